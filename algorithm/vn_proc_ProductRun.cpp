#include "vn_proc_ProductRun.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "vn_class_attitudefile.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_ephemerissubheader.h"
#include "vn_class_noradfile.h"
#include "vn_class_packetfile.h"
#include "vn_class_satpasses.h"
#include "vn_class_trokpacket.h"
#include "vn_class_trokpktprocessor.h"
#include "vn_proc_AtomicProducts.h"
#include "vn_proc_CopyEphemerisMetaData.h"
#include "vn_proc_CopyFiles.h"
#include "vn_proc_FileOpenCheck.h"
#include "vn_proc_GetBegKepler.h"
#include "vn_proc_GetEndPackets.h"
#include "vn_proc_GetNoradElements.h"
#include "vn_proc_GetOrbitRevNos.h"
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

// Rewrites the completed headers, flushes and closes the stream, and fails
// the run when any byte of the product could not be written (a full disk,
// say). The writer's destructor then has nothing left to write.
template <class FILE_T>
void CheckWritten(FILE_T& file)
{
    file.close();
    file.flush();
    file.std::ofstream::close();
    if (file.fail()) WriteFailed(file);
}

// Two of the run's files name the same file: a product would overwrite an
// input or the other product. Refused before anything is opened.
void CheckNameClash(const cfg_list& configList, bool noTLEfile)
{
    struct Named {
        const char* keyword;
        const char* type;
    };
    const Named products[] = {{"-ephemerisfile", "ephemeris"}, {"-attitudefile", "attitude"}};
    std::vector<Named> others = {{"-attitudefile", "attitude"}, {"-packetfile", "packet"}};
    if (!noTLEfile) others.push_back({"-noradfile", "norad"});
    for (const Named& p : products)
        for (const Named& o : others) {
            if (std::string(p.keyword) == o.keyword) continue;
            const std::string a = configList.getvalue(p.keyword);
            const std::string b = configList.getvalue(o.keyword);
            if (!SameFile(a, b)) continue;
            std::cerr << "\nFile name clash: " << p.type << " file " << a << " and " << o.type
                      << " file " << b << " are the same file" << std::endl;
            std::exit(-1);
        }
}

} // namespace

void ProductRun(const cfg_list& configList)
{
    const bool diag1 = IsOn(configList, "-diag_1");
    const bool diag3 = IsOn(configList, "-diag_3");

    bool noTLEfile = false;
    const std::string noradSatName = configList.getvalue("-noradsatname");

    // The packet layout of the spacecraft, fixed before any packet exists.
    SelectPacketLayout(noradSatName);
    if (diag1) std::cerr << "\ndiag_1 Pkt Read Size = " << trokpacket::pktsize << std::endl;
    CheckNameClash(configList, configList.getvalue("-noradfile") == "noTLE");
    if (diag3) std::cerr << "\nDiag 3- Begin Open Input Files" << std::endl;

    packetfile packetFile(configList.getvalue("-packetfile"), trokpacket::apid);
    FileOpenCheck(packetFile);

    const std::string noradFileName = configList.getvalue("-noradfile");
    if (noradFileName == "noTLE") {
        noTLEfile = true;
        std::cout << "No TLE file specified. Using static values." << std::endl << std::endl;
    }
    noradfile noradFile(noradFileName, noradSatName);
    if (!noTLEfile) FileOpenCheck(noradFile);

    trokpacket begPacket;
    trokpacket endPacket;
    GetEndPackets(packetFile, begPacket, endPacket);

    noradelements noradtle;
    if (!noTLEfile) GetNoradElements(noradFile, noradtle);

    if (diag1) {
        std::cerr << "\ndiag_1 Beg Pkt" << begPacket << std::endl;
        std::cerr << "\ndiag_1 End Pkt" << endPacket << std::endl;
        std::cerr << "\ndiag_1 TLE " << std::endl;
        noradtle.Print(std::cerr);
    }
    if (diag3) std::cerr << "\nDiag 3- Define Headers and Initialize with Static Info" << std::endl;

    commonQLRheader comHeader;
    ephemerissubheader ephemSubhdr;
    attitudesubheader attSubhdr;
    comHeader.SpacecraftID(configList.getvalue("-qlrsatname"))
        .Source(configList.getvalue("-station"))
        .Version(configList.getvalue("-version"))
        .TimeRange(begPacket.TimeTag(), endPacket.TimeTag())
        .Interval(cst_interval);
    ephemSubhdr.RefFrame(cst_keplerRefFrame);
    if (noTLEfile)
        ephemSubhdr.EpochTimeTAI(cst_fillValue);
    else
        ephemSubhdr.EpochTimeTAI(satpasses(noradtle).EpochTimeTAI93());
    attSubhdr.AngleOrder(cst_eulerAngleOrder[0], cst_eulerAngleOrder[1], cst_eulerAngleOrder[2]);

    if (diag3) std::cerr << "Diag 3- Open Ephemeris and Attitude Files" << std::endl;
    // Each product is written under a temporary name and takes its final
    // name only once it is complete (vn_proc_AtomicProducts).
    const std::string ephName = configList.getvalue("-ephemerisfile");
    const std::string ephPath = ProductWritePath(ephName);
    ephemerisfile ephemerisFile(ephName, comHeader, ephemSubhdr, ephPath);
    FileOpenCheck(ephemerisFile);
    const std::string attName = configList.getvalue("-attitudefile");
    const std::string attPath = ProductWritePath(attName);
    attitudefile attitudeFile(attName, comHeader, attSubhdr, attPath);
    FileOpenCheck(attitudeFile);

    if (diag3) std::cerr << "Diag 3- Copy Packet Data to Output Files" << std::endl;
    trokpktprocessor processPkt(packetFile);
    CopyFiles(processPkt, ephemerisFile, attitudeFile, configList);

    if (diag3) std::cerr << "Diag 3- Copy Ephemeris MetaData" << std::endl;
    CopyEphemerisMetaData(processPkt, noradtle, ephemerisFile, configList, !noTLEfile);

    unsigned begOrbitRev = 0;
    unsigned endOrbitRev = 0;
    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- A" << std::endl;
    if (!noTLEfile) GetOrbitRevNos(processPkt, noradtle, begOrbitRev, endOrbitRev);

    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- B" << std::endl;
    comHeader.NoRecords(static_cast<unsigned>(processPkt.RecordCount()));

    if (diag3) std::cerr << "Diag 3- Update Header Info- GetOrbitRevNos- C" << std::endl;
    if (noTLEfile) {
        ephemSubhdr.Orbits(1, 1, 1);
    } else {
        unsigned orbitCnt = endOrbitRev - begOrbitRev;
        if (orbitCnt < 1) orbitCnt = 1;
        ephemSubhdr.Orbits(begOrbitRev, endOrbitRev, orbitCnt);
    }

    if (diag3) std::cerr << "Diag 3- Udate Header Info- GetOrbitRevNos- D" << std::endl;
    if (noTLEfile)
        ephemSubhdr.KeplerElements(array(6, cst_fillValue));
    else
        ephemSubhdr.KeplerElements(GetBegKepler(processPkt, noradtle));

    // The headers are complete: write them now and make sure every byte of
    // both products reached the files before reporting success.
    CheckWritten(ephemerisFile);
    CheckWritten(attitudeFile);
    // Both on disk before either takes its final name, so a failure here
    // leaves both earlier products in place.
    std::string reason;
    if (!SyncProduct(ephPath, reason)) WriteFailed(ephemerisFile, reason);
    if (!SyncProduct(attPath, reason)) WriteFailed(attitudeFile, reason);
    if (!CommitProduct(ephPath, reason)) WriteFailed(ephemerisFile, reason);
    if (!CommitProduct(attPath, reason)) WriteFailed(attitudeFile, reason);

    if (IsOn(configList, "-listconfig")) std::cout << "\nnormal termination\n" << std::endl;
    // Leaving the scope destroys the writers (their streams are closed
    // already) before the headers they lock.
}
