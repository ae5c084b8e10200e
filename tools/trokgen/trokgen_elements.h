#ifndef TROKGEN_ELEMENTS_H
#define TROKGEN_ELEMENTS_H

#include <string>
#include <vector>

#include "toolkit/simulation/orbitsim.h"
#include "trokgen_options.h"
#include "trokgen_random.h"

// The element sets of the simulated orbit, as a catalogue publishes them.
namespace trokgen {

// Element set of a two-body orbit at the first sample: its osculating
// elements, the mean anomaly moved to the rounded epoch.
std::vector<double> TwoBodyElementSet(const Options& o, const toolkit::OrbitSimulator& sim);

// Element set of the drifting orbit at the epoch nearest `dt` seconds after
// the start, as SGP4 reads it.
std::vector<double> MeanElementSet(const Options& o, const toolkit::OrbitSimulator& sim, double dt);

// A set as the catalogue would publish it: small errors of orbit
// determination in every element.
void Perturb(std::vector<double>& v, Random& rng);

// The name line and the two element lines of a set.
std::string ElementText(const Options& o, const std::vector<double>& values, int elementNumber);

} // namespace trokgen

#endif
