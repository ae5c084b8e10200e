#ifndef TOOLKIT_PKTMERGE_FIT_H
#define TOOLKIT_PKTMERGE_FIT_H

#include "toolkit/packets/pktmerge.h"

namespace toolkit {

namespace merge {

// The navigation state a telemetry packet carries.
struct PacketState {
    double tai93 = 0;
    double pos[3] = {}, vel[3] = {};
    double quat[4] = {};    // vector part first, scalar last
    double rates[3] = {};
};

// Decodes the state of a telemetry packet (bytes of the whole packet).
PacketState DecodeState(const char* bytes);

// How well a copy fits one neighbouring packet of the merged stream, added
// to what `fit` holds: position and velocity by the kinematic test of the
// product check (StateMisfit), the attitude by the angle between the two
// quaternions over what the neighbour's rates allow in the time between
// them, and the rates by their difference; each over its tolerance into
// `misfit`. False, and nothing added, when the two are not compared (the
// same time, or more than kStatePairSeconds apart).
bool FitNeighbour(const PacketState& copy, const PacketState& neighbour, MergeCopy& fit);

// The copy's own part of the fit: its quaternion's norm against 1.
void FitNorm(const PacketState& copy, MergeCopy& fit);

} // namespace merge

} // namespace toolkit

#endif
