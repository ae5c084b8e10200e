#include "vn_proc_CopyFiles.h"

#include <cassert>
#include <cstdlib>
#include <iostream>

#include "vn_class_attituderecord.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_proc_EulerAnglesInOrbitalFrame.h"

namespace {

// What the records of one point are made of, kept until they are written.
struct Point {
    double time;
    unsigned flags;
    double items[13];   // position 0-2, velocity 3-5, quaternion 6-9, rates 10-12
    double angles[3];
};

// Points are taken in small batches: the attitude angles of a batch are
// worked out together, so that the processor overlaps their square roots and
// divisions (each point's are a long chain, one waiting for the other), and
// then the records are written in order. The bytes are the same as point by
// point.
const size_t batchSize = 8;

// Three values into a vector of three. (Element by element: a library copy
// of so few is a call.)
inline void Take3(const double* from, array& to)
{
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// The records of every point of the batch, in order, into the two files.
class recordwriter
{
public:
    recordwriter(ephemerisfile& e, attitudefile& a) : efile(e), afile(a) {}

    void Write(Point* points, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            items[i] = points[i].items;
            angleLists[i] = points[i].angles;
        }
        EulerAnglesInOrbitalFrame(items, angleLists, count);
        for (size_t i = 0; i < count; ++i) {
            const Point& p = points[i];
            Take3(p.items, position);
            Take3(p.items + 3, velocity);
            Take3(p.angles, angles);
            Take3(p.items + 10, rates);
            ephRcd.time(p.time).Position(position).Velocity(velocity).QaFlag(p.flags);
            attRcd.Time(p.time).EulerAngles(angles).AngleVelocities(rates).QaFlag(p.flags);
            efile.write(ephRcd);
            afile.write(attRcd);
        }
    }

private:
    ephemerisfile& efile;
    attitudefile& afile;
    // One record of each kind, overwritten field by field for every point,
    // and value buffers reused for every point: no allocation per record.
    ephemerisrecord ephRcd;
    attituderecord attRcd;
    array position = array(3), velocity = array(3), angles = array(3), rates = array(3);
    // Where the angles of the batch's points come from and go to.
    const double* items[batchSize] = {};
    double* angleLists[batchSize] = {};
};

} // namespace

void CopyFiles(trokpktprocessor& processPkt, ephemerisfile& efile, attitudefile& afile,
               const cfg_list& /*configList*/)
{
    recordwriter writer(efile, afile);
    Point points[batchSize];
    size_t count = 0;
    while (const trokpacket* pkt = processPkt.ReadPkt()) {
        Point& p = points[count++];
        p.time = pkt->TimeTag();
        p.flags = static_cast<unsigned>(processPkt.QualityFlags().getqualityflags().to_ulong());
        const array& items = pkt->ItemList();
        assert(items.size() >= 13);
        const double* from = items.data();
#pragma GCC unroll 13
        for (size_t k = 0; k < 13; ++k) p.items[k] = from[k];
        if (count == batchSize) {
            writer.Write(points, count);
            count = 0;
        }
    }
    writer.Write(points, count);

    // The repair stream marks the normal end of the input with end-of-file
    // alone; anything else (a failed or short read) is a read error.
    const packetfile& pfile = processPkt.PacketFile();
    if (!pfile.eof() || pfile.fail()) {
        std::cerr << "\nPacket File read error" << std::endl << '\n';
        if (const trokpacket* last = processPkt.getLastPktRead()) std::cerr << *last;
        std::cerr << std::endl;
        std::exit(-1);
    }
}
