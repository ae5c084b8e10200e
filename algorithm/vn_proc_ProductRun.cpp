#include "vn_proc_ProductRun.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "vn_class_attitudefile.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_ephemerissubheader.h"
#include "vn_class_noradfile.h"
#include "vn_class_outputfile.h"
#include "vn_class_packetfile.h"
#include "vn_class_satpasses.h"
#include "vn_class_trokpacket.h"
#include "vn_class_trokpktprocessor.h"
#include "vn_proc_CopyEphemerisMetaData.h"
#include "vn_proc_CopyFiles.h"
#include "vn_proc_FileOpenCheck.h"
#include "vn_proc_GetBegKepler.h"
#include "vn_proc_GetEndPackets.h"
#include "vn_proc_GetNoradElements.h"
#include "vn_proc_GetOrbitRevNos.h"
#include "vn_proc_OutOfMemory.h"
#include "vn_proc_PacketRules.h"

namespace {

const std::string cst_keplerRefFrame = "J2000";
const float cst_interval = 1.0f;
const unsigned cst_eulerAngleOrder[3] = {3, 1, 2};
const double cst_fillValue = -999.999999;

bool IsOn(const cfg_list& configList, const char* keyword)
{
    return configList.getvalue(keyword) == "yes";
}

[[noreturn]] void WriteFailed(const basefile& file, const std::string& reason = "")
{
    std::cerr << "\nFile Write failed for " << file.GetFileType() << " file: "
              << FileOpenName(file.GetFileName());
    if (!reason.empty()) std::cerr << " (" << reason << ")";
    std::cerr << std::endl;
    std::exit(-1);
}

// The open check of a product: FileOpenCheck's message, followed by the
// reason when a rule of safe creation refused the name (a link or FIFO of
// another user).
template <class FILE_T>
void ProductOpenCheck(FILE_T& file)
{
    if (!file.fail() || !file.File().Refused() || BlankName(file.GetFileName()))
        return FileOpenCheck(file);
    std::cerr << "\nFile Open failed for " << file.GetFileType() << " file: "
              << FileOpenName(file.GetFileName()) << " (" << file.Error() << ")" << std::endl;
    std::exit(-1);
}

// Rewrites the completed headers, flushes the stream, and fails the run
// when any byte of the product could not be written (a full disk, say).
template <class FILE_T>
void CheckWritten(FILE_T& file)
{
    file.close();
    file.flush();
    if (file.fail()) WriteFailed(file);
}

// Two of the run's files name the same file: a product would overwrite an
// input, the configuration file or the other product. Refused before
// anything is opened.
void CheckNameClash(const cfg_list& configList, const std::string& configFileName, bool noTLEfile)
{
    struct Named {
        std::string name;
        const char* type;
    };
    const Named eph = {configList.getvalue("-ephemerisfile"), "ephemeris"};
    const Named att = {configList.getvalue("-attitudefile"), "attitude"};
    std::vector<Named> inputs = {{configList.getvalue("-packetfile"), "packet"}};
    if (!noTLEfile) inputs.push_back({configList.getvalue("-noradfile"), "norad"});
    inputs.push_back({configFileName, "configuration"});
    std::vector<std::pair<Named, Named>> pairs = {{eph, att}};
    for (const Named& p : {eph, att})
        for (const Named& i : inputs) pairs.push_back({p, i});
    for (const auto& [p, o] : pairs) {
        if (!SameFile(p.name, o.name)) continue;
        std::cerr << "\nFile name clash: " << p.type << " file " << p.name << " and " << o.type
                  << " file " << o.name << " are the same file" << std::endl;
        std::exit(-1);
    }
}

// A header text longer than its field is cut to the field; the run goes on
// and says so.
void WarnIfCut(const cfg_list& configList, const char* keyword, size_t fieldSize)
{
    const std::string value = configList.getvalue(keyword);
    if (value.size() <= fieldSize) return;
    std::cerr << "\nHeader text cut: " << keyword << " value \"" << value << "\" is "
              << value.size() << " bytes, its field holds " << fieldSize << std::endl;
}

// The run's inputs once they are open and their ends read: the packet file
// (read on by the copy), the element set (empty without one) and the first
// and last packet.
struct RunInputs {
    bool noTLEfile = false;
    noradelements noradtle;
    trokpacket begPacket;
    trokpacket endPacket;
};

// Opens the element file unless it is "noTLE", reads the end packets and
// the element set.
void ReadInputs(const cfg_list& configList, packetfile& packetFile, RunInputs& in, bool diag1)
{
    const std::string noradSatName = configList.getvalue("-noradsatname");
    const std::string noradFileName = configList.getvalue("-noradfile");
    if (noradFileName == "noTLE") {
        in.noTLEfile = true;
        std::cout << "No TLE file specified. Using static values." << std::endl << std::endl;
    }
    noradfile noradFile(noradFileName, noradSatName);
    if (!in.noTLEfile) FileOpenCheck(noradFile);

    GetEndPackets(packetFile, in.begPacket, in.endPacket);

    ReadingNow("norad", noradFileName);
    if (!in.noTLEfile) GetNoradElements(noradFile, in.noradtle);
    // From here on the run reads packets (and writes the products).
    ReadingNow("packet", configList.getvalue("-packetfile"));

    if (diag1) {
        std::cerr << "\ndiag_1 Beg Pkt" << in.begPacket << std::endl;
        std::cerr << "\ndiag_1 End Pkt" << in.endPacket << std::endl;
        std::cerr << "\ndiag_1 TLE " << std::endl;
        in.noradtle.Print(std::cerr);
    }
}

// The header fields known before the first record.
void StartHeaders(const cfg_list& configList, const RunInputs& in, commonQLRheader& comHeader,
                  ephemerissubheader& ephemSubhdr, attitudesubheader& attSubhdr)
{
    WarnIfCut(configList, "-qlrsatname", commonQLRheader::spacecraftIDSize);
    WarnIfCut(configList, "-station", commonQLRheader::sourceSize);
    WarnIfCut(configList, "-version", commonQLRheader::versionSize);
    comHeader.SpacecraftID(configList.getvalue("-qlrsatname"))
        .Source(configList.getvalue("-station"))
        .Version(configList.getvalue("-version"))
        .TimeRange(in.begPacket.TimeTag(), in.endPacket.TimeTag())
        .Interval(cst_interval);
    ephemSubhdr.RefFrame(cst_keplerRefFrame);
    if (in.noTLEfile)
        ephemSubhdr.EpochTimeTAI(cst_fillValue);
    else
        ephemSubhdr.EpochTimeTAI(satpasses(in.noradtle).EpochTimeTAI93());
    attSubhdr.AngleOrder(cst_eulerAngleOrder[0], cst_eulerAngleOrder[1], cst_eulerAngleOrder[2]);
}

// The header fields known once every record is written: the record count,
// the orbits and the Kepler elements.
void FinishHeaders(trokpktprocessor& processPkt, const RunInputs& in, commonQLRheader& comHeader,
                   ephemerissubheader& ephemSubhdr, bool diag3)
{
    unsigned begOrbitRev = 0;
    unsigned endOrbitRev = 0;
    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- A" << std::endl;
    if (!in.noTLEfile) GetOrbitRevNos(processPkt, in.noradtle, begOrbitRev, endOrbitRev);

    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- B" << std::endl;
    comHeader.NoRecords(static_cast<unsigned>(processPkt.RecordCount()));

    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- C" << std::endl;
    if (in.noTLEfile) {
        ephemSubhdr.Orbits(1, 1, 1);
    } else {
        unsigned orbitCnt = endOrbitRev - begOrbitRev;
        if (orbitCnt < 1) orbitCnt = 1;
        ephemSubhdr.Orbits(begOrbitRev, endOrbitRev, orbitCnt);
    }

    if (diag3) std::cerr << "Diag 3- Udate Header Info- GetOrbitRevNos- D" << std::endl;
    if (in.noTLEfile)
        ephemSubhdr.KeplerElements(array(6, cst_fillValue));
    else
        ephemSubhdr.KeplerElements(GetBegKepler(processPkt, in.noradtle));
}

// Writes both products: the records and the orbit metadata, then the
// finished headers, and gives both their names once every byte is on disk.
// The writers are gone when it returns; the headers, which they lock, are
// the caller's.
void WriteProducts(const cfg_list& configList, packetfile& packetFile, const RunInputs& in,
                   commonQLRheader& comHeader, ephemerissubheader& ephemSubhdr,
                   attitudesubheader& attSubhdr, bool diag3)
{
    if (diag3) std::cerr << "Diag 3- Open Ephemeris and Attitude Files" << std::endl;
    // Each product is written under a temporary name and takes its final
    // name only once both are complete (outputfile).
    ephemerisfile ephemerisFile(configList.getvalue("-ephemerisfile"), comHeader, ephemSubhdr);
    ProductOpenCheck(ephemerisFile);
    attitudefile attitudeFile(configList.getvalue("-attitudefile"), comHeader, attSubhdr);
    ProductOpenCheck(attitudeFile);

    if (diag3) std::cerr << "Diag 3- Copy Packet Data to Output Files" << std::endl;
    trokpktprocessor processPkt(packetFile);
    CopyFiles(processPkt, ephemerisFile, attitudeFile, configList);

    if (diag3) std::cerr << "Diag 3- Copy Ephemeris MetaData" << std::endl;
    CopyEphemerisMetaData(processPkt, in.noradtle, ephemerisFile, configList, !in.noTLEfile);

    FinishHeaders(processPkt, in, comHeader, ephemSubhdr, diag3);

    // The headers are complete: write them now and make sure every byte of
    // both products reached the files before reporting success.
    CheckWritten(ephemerisFile);
    CheckWritten(attitudeFile);
    // Both on disk before either takes its final name, so a failure there
    // leaves both earlier products in place; the two renames then run with
    // the signals held back, so a stopping signal finds both old products
    // or both new ones.
    size_t failed = 0;
    if (!CommitTogether({&ephemerisFile, &attitudeFile}, failed)) {
        if (failed == 0) WriteFailed(ephemerisFile, ephemerisFile.Error());
        WriteFailed(attitudeFile, attitudeFile.Error());
    }
}

} // namespace

void ProductRun(const cfg_list& configList, const std::string& configFileName)
{
    const bool diag1 = IsOn(configList, "-diag_1");
    const bool diag3 = IsOn(configList, "-diag_3");

    // The packet layout of the spacecraft, fixed before any packet exists.
    SelectPacketLayout(configList.getvalue("-noradsatname"));
    if (diag1) std::cerr << "\ndiag_1 Pkt Read Size = " << trokpacket::pktsize << std::endl;
    CheckNameClash(configList, configFileName, configList.getvalue("-noradfile") == "noTLE");
    if (diag3) std::cerr << "\nDiag 3- Begin Open Input Files" << std::endl;

    ReadingNow("packet", configList.getvalue("-packetfile"));
    packetfile packetFile(configList.getvalue("-packetfile"), trokpacket::apid);
    FileOpenCheck(packetFile);
    RunInputs in;
    ReadInputs(configList, packetFile, in, diag1);

    if (diag3) std::cerr << "\nDiag 3- Define Headers and Initialize with Static Info" << std::endl;
    commonQLRheader comHeader;
    ephemerissubheader ephemSubhdr;
    attitudesubheader attSubhdr;
    StartHeaders(configList, in, comHeader, ephemSubhdr, attSubhdr);
    WriteProducts(configList, packetFile, in, comHeader, ephemSubhdr, attSubhdr, diag3);

    if (IsOn(configList, "-listconfig")) std::cout << "\nnormal termination\n" << std::endl;
}
