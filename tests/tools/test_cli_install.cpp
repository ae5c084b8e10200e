// What a user sees first: --help and --version of every program, trokgen's
// usage, the manual pages as man renders them, and `make install`.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "vn_version.h"

namespace {

const std::string kVersion = TROK_VERSION;

ProgramResult Shell(const std::string& command, const std::string& dir = "")
{
    return RunProgram({"/bin/sh", "-c", command}, dir);
}

bool HaveCommand(const std::string& name)
{
    return Shell("command -v " + name + " >/dev/null").status == 0;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// Every regular file under `root`, as paths relative to it.
void ListFiles(const std::string& root, const std::string& sub, std::set<std::string>& out)
{
    DIR* d = opendir((root + sub).c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        const std::string rel = sub + "/" + name;
        if (stat((root + rel).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) ListFiles(root, rel, out);
        else out.insert(rel);
    }
    closedir(d);
}

std::vector<std::string> ManPages()
{
    std::vector<std::string> pages;
    DIR* d = opendir(TROK_SOURCE_DIR "/man");
    if (!d) return pages;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 2 && name[name.size() - 2] == '.' && std::isdigit(name.back()))
            pages.push_back(name);
    }
    closedir(d);
    std::sort(pages.begin(), pages.end());
    return pages;
}

// Words of `text` that are options: "-" or "--" and a letter, at the start of
// a line or after a blank, bracket, bar or comma.
std::set<std::string> OptionsIn(const std::string& text)
{
    static const std::regex option(R"((?:^|[\s\[|(,])(--?[A-Za-z][A-Za-z0-9_-]*))");
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        found.insert((*it)[1]);
    return found;
}

// A page's source as plain text: "\-" as "-", without font changes, "\%"
// and quotes.
std::string PlainPage(const std::string& source)
{
    static const std::regex markup(R"(\\f[BIRP]|\\%|")"), minus(R"(\\-)");
    return std::regex_replace(std::regex_replace(source, markup, ""), minus, "-");
}

// The options a page lists: those in the tags of its OPTIONS section.
std::set<std::string> ListedOptions(const std::string& plainPage)
{
    std::set<std::string> found;
    std::istringstream in(plainPage);
    bool inOptions = false, tag = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
        else if (inOptions && tag) {
            const std::set<std::string> o = OptionsIn(line);
            found.insert(o.begin(), o.end());
        }
        tag = line.rfind(".TP", 0) == 0;
    }
    return found;
}

std::string LineWith(const std::string& text, const std::string& word)
{
    for (const std::string& line : Lines(text))
        if (line.find(word) != std::string::npos) return line;
    return "";
}

} // namespace

TEST(HelpAndVersion, EveryProgramPrintsThemOnStandardOutputWithStatus0)
{
    const struct {
        const char* name;
        std::string path;
        const char* helpStart;
    } programs[] = {
        {"trokproc", TROKPROC_PATH, "usage: trokproc [keyword value] ..."},
        {"pgsentry", PGSENTRY_PATH, "usage: pgsentry command [argument ...]"},
        {"trokgen", TROKGEN_PATH, "usage: trokgen --out FILE [options]"},
        {"qlrdump", QLRDUMP_PATH, "usage: qlrdump "},
        {"pktscan", PKTSCAN_PATH, "usage: pktscan "},
        {"pktmerge", PKTMERGE_PATH, "usage: pktmerge -o OUT "},
        {"qlrplot", QLRPLOT_PATH, "usage: qlrplot EPH ATT [-o DIR]"},
        {"trokcampaign", TROKCAMPAIGN_PATH, "usage: trokcampaign run "},
    };
    const std::string dir = FreshTestDir();
    for (const auto& p : programs) {
        ProgramResult r = RunProgram({p.path, "--version"}, dir);
        EXPECT_EQ(r.status, 0) << p.name;
        EXPECT_EQ(r.out, std::string(p.name) + " " + kVersion + "\n");
        EXPECT_EQ(r.err, "") << p.name;
        r = RunProgram({p.path, "--help"}, dir);
        EXPECT_EQ(r.status, 0) << p.name;
        EXPECT_EQ(r.out.rfind(p.helpStart, 0), 0u) << p.name << ": " << r.out;
        EXPECT_EQ(r.out.back(), '\n') << p.name;
        EXPECT_EQ(r.err, "") << p.name;
    }
    // The version is the project's, x.y.z.
    unsigned a = 0, b = 0, c = 0;
    EXPECT_EQ(std::sscanf(kVersion.c_str(), "%u.%u.%u", &a, &b, &c), 3) << kVersion;
    // Output that cannot be written is a failure.
    if (access("/dev/full", W_OK) == 0) {
        for (const auto& p : programs)
            for (const char* opt : {"--help", "--version"})
                EXPECT_EQ(Shell("'" + p.path + "' " + opt + " > /dev/full").status, 255)
                    << p.name << " " << opt;
    }
}

// The OEM export names its writer with the same version.
TEST(HelpAndVersion, OemExportNamesItsWriterAndVersion)
{
    const std::string dir = FreshTestDir();
    ProgramResult r = RunProgram({TROKGEN_PATH, "--out", "v.pkt", "--config", "cfg", "--seconds",
                                  "30"},
                                 dir);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunProgram({TROKPROC_PATH, "-configfile", "cfg"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunProgram({QLRDUMP_PATH, "--oem", "v.eph"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t at = r.out.find("\nCOMMENT Written by qlrdump " + kVersion + "\n");
    EXPECT_NE(at, std::string::npos) << r.out.substr(0, 400);
    EXPECT_LT(at, r.out.find("\nCREATION_DATE = ")) << "header comments precede CREATION_DATE";
}

TEST(HelpAndVersion, OnlyTheSingleArgumentIsAnOptionOfTrokprocAndPgsentry)
{
    const std::string dir = FreshTestDir();
    // trokproc: anything else is keyword/value pairs as always.
    ProgramResult r = RunProgram({TROKPROC_PATH, "--help", "x"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\nBad Command Line Keyword: --help\n");
    r = RunProgram({TROKPROC_PATH, "-listconfig", "no", "--version"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.find("\nBad Command Line:\n    "), 0u) << r.err;
    r = RunProgram({TROKPROC_PATH, "-help"}, dir);
    EXPECT_EQ(r.status, 255);
    // pgsentry: after a command the words belong to the command.
    r = RunProgram({PGSENTRY_PATH, "/bin/sh", "-c", "printf '%s\\n' \"$0\"", "--version"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "--version\n");
    r = RunProgram({PGSENTRY_PATH, "--help", "x"}, dir);
    EXPECT_EQ(r.status, 255);   // no program called --help
    EXPECT_EQ(r.out, "");
}

TEST(HelpAndVersion, TrokgenWithoutOutSaysWhatItNeedsAndWritesNothing)
{
    const std::string dir = FreshTestDir();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{TROKGEN_PATH},
          std::vector<std::string>{TROKGEN_PATH, "--seconds", "10", "--tle", "a.tle"}}) {
        const ProgramResult r = RunProgram(args, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "trokgen: no packet file: give --out FILE or --archive DIR (see trokgen --help)\n");
    }
    std::set<std::string> files;
    ListFiles(dir, "", files);
    EXPECT_TRUE(files.empty()) << *files.begin();
}

// Every page in man/ formats without a warning and renders through man.
TEST(ManualPages, EveryPageFormatsCleanlyAndRenders)
{
    if (!HaveCommand("groff") || !HaveCommand("man"))
        GTEST_SKIP() << "groff or man is missing (apt-get install groff man-db)";
    const std::vector<std::string> pages = ManPages();
    for (const char* needed : {"trokproc.1", "pgsentry.1", "trokgen.1", "qlrdump.1", "pktscan.1",
                               "qlrplot.1", "trokjob.1", "trokparallel.1", "trokarray.sbatch.1"})
        EXPECT_NE(std::find(pages.begin(), pages.end(), needed), pages.end()) << needed;
    EXPECT_GE(std::count_if(pages.begin(), pages.end(),
                            [](const std::string& p) { return p.back() == '5'; }),
              2);
    for (const std::string& page : pages) {
        const std::string path = TROK_SOURCE_DIR "/man/" + page;
        ProgramResult r = Shell("groff -man -ww -z '" + path + "'");
        EXPECT_EQ(r.status, 0) << page;
        EXPECT_EQ(r.err, "") << page;
        r = Shell("MANWIDTH=80 man -l '" + path + "' | cat");
        EXPECT_EQ(r.status, 0) << page;
        EXPECT_EQ(r.err, "") << page;
        // The page is named after its file, and has a NAME and a SEE ALSO.
        std::string upper = page.substr(0, page.rfind('.'));
        for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
        EXPECT_EQ(r.out.rfind(upper + "(" + page.substr(page.rfind('.') + 1) + ")", 0), 0u)
            << page << ": " << r.out.substr(0, 80);
        EXPECT_NE(r.out.find("\nNAME\n"), std::string::npos) << page;
        EXPECT_NE(r.out.find("\nSEE ALSO\n"), std::string::npos) << page;
    }
}

// Each section-1 page belongs to a program in the build or a job script in
// jobs/ of its name (so a new program's page brings it into this test): every
// option its --help prints is in the page, and every option the page lists
// under OPTIONS is accepted, that is not refused the way the program refuses
// an unknown option.
TEST(ManualPages, OptionsOfHelpAreInThePageAndOptionsOfThePageAreAccepted)
{
    const std::string dir = FreshTestDir();
    const std::string bogus = "--zz-no-such-option";
    int programs = 0;
    for (const std::string& page : ManPages()) {
        if (page.back() != '1') continue;
        const std::string name = page.substr(0, page.size() - 2);
        std::string path = TROK_BUILD_DIR "/" + name;
        if (access(path.c_str(), X_OK) != 0) path = TROK_SOURCE_DIR "/jobs/" + name;
        if (access(path.c_str(), X_OK) != 0) {
            ADD_FAILURE() << page << ": no program or job script " << name;
            continue;
        }
        ++programs;
        const std::string plain = PlainPage(ReadFile(TROK_SOURCE_DIR "/man/" + page));
        const std::set<std::string> inPage = OptionsIn(plain);
        for (const std::string& option : OptionsIn(RunProgram({path, "--help"}, dir).out))
            EXPECT_TRUE(inPage.count(option)) << name << " --help prints " << option << ", its page not";

        const std::string refusal = LineWith(RunProgram({path, bogus, "x"}, dir).err, bogus);
        for (const std::string& option : ListedOptions(plain)) {
            if (option == "--help" || option == "--version") continue;   // HelpAndVersion tests them
            if (refusal.empty()) {
                ADD_FAILURE() << name << " does not name an unknown option, so " << option
                              << " cannot be checked";
                break;
            }
            std::string refused = refusal;
            refused.replace(refused.find(bogus), bogus.size(), option);
            const ProgramResult r = RunProgram({path, option, "x"}, dir);
            EXPECT_EQ(r.err.find(refused), std::string::npos)
                << name << " refuses " << option << ", which its page lists: " << r.err;
        }
    }
    EXPECT_GE(programs, 9);
}

// make install (with DESTDIR and PREFIX) and cmake --install (with --prefix)
// install the same files; every program and job script installed has its
// manual page and every page is installed; the installed trokproc runs; make
// uninstall (from make install-manifest) takes everything away again.
TEST(Install, MakeAndCmakeInstallTheSameFilesAndUninstallRemovesThem)
{
    if (!HaveCommand("make")) GTEST_SKIP() << "make is missing";
    const std::string dir = FreshTestDir();
    const std::string dest = dir + "/stage";
    const std::string make = "make -s --no-print-directory -C '" TROK_SOURCE_DIR
                             "' BUILD='" TROK_BUILD_DIR "' PREFIX=/opt/trok DESTDIR='" + dest + "' ";
    ProgramResult r = Shell(make + "install-files");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    std::set<std::string> installed;
    ListFiles(dest + "/opt/trok", "", installed);

    r = Shell("cmake --install '" TROK_BUILD_DIR "' --prefix '" + dir + "/cmake'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> cmakeInstalled;
    ListFiles(dir + "/cmake", "", cmakeInstalled);
    EXPECT_EQ(installed, cmakeInstalled);

    std::set<std::string> programs, pages;
    for (const std::string& f : installed) {
        if (f.rfind("/bin/", 0) == 0) programs.insert(f.substr(5));
        if (f.rfind("/share/man/man", 0) == 0) pages.insert(f.substr(f.rfind('/') + 1));
    }
    EXPECT_GE(programs.size(), 8u);
    for (const std::string& p : programs) EXPECT_EQ(pages.count(p + ".1"), 1u) << p << " has no page";
    EXPECT_EQ(installed.count("/share/trokproc/trokarray.sbatch"), 1u);
    for (const std::string& page : ManPages())
        EXPECT_EQ(installed.count("/share/man/man" + page.substr(page.rfind('.') + 1) + "/" + page), 1u)
            << page << " is not installed";
    struct stat st;
    ASSERT_EQ(stat((dest + "/opt/trok/bin/trokproc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    r = RunProgram({dest + "/opt/trok/bin/trokproc", "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "trokproc " + kVersion + "\n");

    r = Shell(make + "uninstall");
    EXPECT_EQ(r.status, 0) << r.err;
    installed.clear();
    ListFiles(dest, "", installed);
    EXPECT_TRUE(installed.empty()) << *installed.begin();
}
