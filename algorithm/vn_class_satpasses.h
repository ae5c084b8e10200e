#ifndef VN_CLASS_SATPASSES_H
#define VN_CLASS_SATPASSES_H

#include <ostream>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "vn_class_orbitstuff.h"

// Pass model of one satellite: revolution numbers, node times and the
// descending-node longitude of an orbit, extrapolated from a two-line element
// set at constant mean motion. Build it from the element set, then SetOrbit
// for each orbit; the queries answer for the orbit set last. Times are Julian
// days on the TAI scale, angles radians.
class satpasses
{
public:
    // The element set must have 13 values (assertion).
    explicit satpasses(const noradelements& noradtle);

    // Selects an orbit. Its first packet must hold a closed orbit; otherwise
    // a message and the packet go to standard error and the process ends
    // with status 255.
    satpasses& SetOrbit(const orbitstuff& orbit);

    // Revolution numbers at the orbit's first and last time; 0 before SetOrbit.
    unsigned int BegOrbitRev() const;
    unsigned int EndOrbitRev() const;

    double BegOrbitTime() const;
    double EndOrbitTime() const;
    double AscendingNodeTime() const;
    double DescendingNodeTime() const;

    // East longitude of the descending node in (-pi, pi]; 0 before SetOrbit.
    double DescendingNodeLongitude() const;

    // Six Kepler elements of the orbit's first packet, the mean anomaly
    // shifted to the element set's argument of perigee plus mean anomaly;
    // six zeros before SetOrbit.
    std::vector<double> BegKepler() const;

    // The element-set epoch in TAI93 seconds.
    double EpochTimeTAI93() const;

    // Labelled dump of the state; switches the stream to fixed and showpos.
    void print_state(std::ostream& os) const;

private:
    unsigned int RevolutionAt(double time) const;

    double begTime;
    double endTime;
    double ascTime;
    double dscTime;
    unsigned int epochRev;
    double epochTime;
    double epochAscTime;
    double meanMo;
    double wPlusM_Ep;
    double wPlusM_Ps;
    double rightAsc;
    double TAIminusUTC;
    std::vector<double> begKepler;
};

std::ostream& operator<<(std::ostream& os, const satpasses& passes);

#endif
