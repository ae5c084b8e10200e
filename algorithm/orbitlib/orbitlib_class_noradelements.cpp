#include "orbitlib_class_noradelements.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orbitlib_constants.h"

namespace {

const std::size_t kElements = 13;
const std::size_t kLineLength = 80;   // formatted line length
const std::size_t kCheckColumn = 68;  // offset of the check digit
const std::size_t kRevColumn = 63;    // offset of the revolution number
const std::size_t kRevWidth = 5;

// Truncation toward zero into an int; NaN gives 0 and values beyond the int
// range are clamped, so no input value can make the conversion undefined.
// The lower bound is -INT_MAX so that the magnitude always fits as well.
int TruncInt(double x)
{
    if (std::isnan(x)) return 0;
    if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (x <= -static_cast<double>(INT_MAX)) return -INT_MAX;
    return static_cast<int>(x);
}

// Sign character, mantissa and exponent of a value written as
// [sign]ddddd[sign]e, meaning 0.ddddd * 10^e.
void PackedDecimal(double x, char& sign, int& mantissa, int& exponent)
{
    sign = x < 0 ? '-' : '+';
    exponent = x == 0 ? 0 : TruncInt(std::log10(std::fabs(x)));
    mantissa = std::abs(TruncInt(x * 1e5 * std::pow(10.0, -exponent)));
}

// Cuts a formatted line to its fixed length and stamps the check digit.
std::string FinishLine(const char* text)
{
    std::string line(text);
    line.resize(kLineLength, ' ');
    line[kCheckColumn] = CheckSum(line.c_str());
    return line;
}

}  // namespace

char CheckSum(const char* line)
{
    int sum = 0;
    for (std::size_t k = 0; k < kCheckColumn && line[k] != '\0'; ++k) {
        const char c = line[k];
        if (c >= '0' && c <= '9')
            sum += c - '0';
        else if (c == '-')
            sum += 1;
    }
    return static_cast<char>('0' + sum % 10);
}

noradelements::noradelements() : checksumValid(true), V(kElements, 0.0) {}

noradelements::noradelements(const std::string& line1, const std::string& line2)
    : checksumValid(true), V(kElements, 0.0)
{
    Set(line1, line2);
}

noradelements::noradelements(const noradelements& other) = default;

noradelements::noradelements(const std::vector<double>& values)
    : checksumValid(true), V(values)
{
}

noradelements& noradelements::Set(const noradelements& other)
{
    checksumValid = other.checksumValid;
    V = other.V;
    return *this;
}

noradelements& noradelements::Set(const std::vector<double>& values)
{
    V = values;
    checksumValid = true;
    return *this;
}

noradelements& noradelements::Set(const std::string& line1, const std::string& line2)
{
    // A set taken over from a vector may be shorter; parsing needs all thirteen.
    if (V.size() < kElements) V.resize(kElements, 0.0);

    // Line 1: catalogue number, epoch year and day, first derivative,
    // second derivative (mantissa, exponent), drag (mantissa, exponent), check.
    int lineNo = 0;
    double satNo = 0, year = 0, day = 0, ndot = 0, nddotMant = 0, dragMant = 0;
    int nddotExp = 0, dragExp = 0;
    char check1 = '\0';
    const int got1 = std::sscanf(line1.c_str(),
        "%1d%*1c%5lf%*10c%2lf%12lf%*1c%10lf%*1c%6lf%2d%*1c%6lf%2d%*7c%1c",
        &lineNo, &satNo, &year, &day, &ndot, &nddotMant, &nddotExp,
        &dragMant, &dragExp, &check1);
    // Conversions are assigned in order, so the count says which were read.
    const int n1 = got1 < 0 ? 0 : got1;
    if (n1 >= 2) V[9] = satNo;
    if (n1 >= 3) V[10] = year;
    if (n1 >= 4) V[11] = day;
    if (n1 >= 5) V[7] = ndot * twoPi / 1440.0 / 1440.0;
    if (n1 >= 7) V[8] = nddotMant * 1e-5 * std::pow(10.0, nddotExp) * twoPi / 1440.0 / 1440.0 / 1440.0;
    if (n1 >= 9) V[6] = dragMant * 1e-5 * std::pow(10.0, dragExp);
    const bool have1 = n1 >= 10;

    // Line 2: inclination, node, eccentricity, perigee, mean anomaly, mean
    // motion; then the revolution number and check digit at fixed columns.
    double incl = 0, node = 0, ecc = 0, perigee = 0, anomaly = 0, motion = 0;
    const int got2 = std::sscanf(line2.c_str(),
        "%1d%*7c%8lf%*1c%8lf%*1c%7lf%*1c%8lf%*1c%8lf%*1c%11lf",
        &lineNo, &incl, &node, &ecc, &perigee, &anomaly, &motion);
    const int n2 = got2 < 0 ? 0 : got2;
    if (n2 >= 2) V[2] = incl * DtR;
    if (n2 >= 3) V[3] = node * DtR;
    if (n2 >= 4) V[1] = ecc * 1e-7;
    if (n2 >= 5) V[4] = perigee * DtR;
    if (n2 >= 6) V[5] = anomaly * DtR;
    if (n2 >= 7) V[0] = motion * twoPi / 1440.0;
    if (line2.size() >= kRevColumn + kRevWidth) {
        char rev[kRevWidth + 1] = {};
        std::memcpy(rev, line2.data() + kRevColumn, kRevWidth);
        V[12] = std::atof(rev);
    }
    const bool have2 = line2.size() > kCheckColumn;

    checksumValid = have1 && check1 == CheckSum(line1.c_str())
                 && have2 && line2[kCheckColumn] == CheckSum(line2.c_str());
    return *this;
}

std::vector<double> noradelements::Get() const { return V; }

void noradelements::Get(std::string& line1, std::string& line2) const
{
    // A set taken over from a shorter vector formats its missing values as 0.
    std::vector<double> v(V);
    if (v.size() < kElements) v.resize(kElements, 0.0);

    const double x7 = v[7] * 1440.0 * 1440.0 / twoPi;
    const char sign7 = x7 < 0 ? '-' : '+';
    const int digits7 = std::abs(TruncInt(x7 * 1e8));

    char sign8, sign6;
    int mant8, exp8, mant6, exp6;
    PackedDecimal(v[8] * 1440.0 * 1440.0 * 1440.0 / twoPi, sign8, mant8, exp8);
    PackedDecimal(v[6], sign6, mant6, exp6);

    // Large enough for any double in %f notation; longer text is cut to 80.
    char buf[1024];
    std::snprintf(buf, sizeof buf,
        "1 %5d           %02d%012.8lf %c.%08d %c%05d%+2d %c%05d%+2d                   ",
        TruncInt(v[9]), TruncInt(v[10]), v[11], sign7, digits7,
        sign8, mant8, exp8, sign6, mant6, exp6);
    line1 = FinishLine(buf);

    std::snprintf(buf, sizeof buf,
        "2 %5d %8.4lf %8.4lf %07d %8.4lf %8.4lf %11.8lf%5d            ",
        TruncInt(v[9]), v[2] / DtR, v[3] / DtR, TruncInt(v[1] * 1e7),
        v[4] / DtR, v[5] / DtR, v[0] * 1440.0 / twoPi, TruncInt(v[12]));
    line2 = FinishLine(buf);
}

void noradelements::Print(std::ostream& os) const
{
    std::string line1, line2;
    Get(line1, line2);
    os << line1 << '\n' << line2 << std::endl;
}

bool noradelements::operator!() const { return checksumValid; }
