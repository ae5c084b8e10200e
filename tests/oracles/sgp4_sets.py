"""Every element set of a file as SGP4 tools read it, against known states.

usage: /usr/bin/python3 sgp4_sets.py ELEMENT_FILE < states

Each input line: a Julian day in two parts (whole and fraction) on the time
scale of the sets' epochs, and a position x y z in metres in the frame of
the sets (SGP4's TEME). Each output line, one per set in file order: the
set's epoch as written (columns 19-32 of line 1), "sgp4" and "skyfield"
when each read the set without error, the number of states within a day of
the epoch, and the largest distance in km between SGP4's position from the
set and those states ("-" when there are none). Status 3 when the sgp4 or
skyfield module is missing.
"""
import math
import sys

try:
    from sgp4.api import Satrec
    from skyfield.api import EarthSatellite, load
except ImportError as e:
    print("sgp4 or skyfield not available: %s" % e, file=sys.stderr)
    sys.exit(3)


def sets(path):
    lines = [l.rstrip("\r\n") for l in open(path)]
    for i in range(len(lines) - 1):
        if lines[i].startswith("1 ") and lines[i + 1].startswith("2 "):
            yield lines[i], lines[i + 1]


def main():
    states = []
    for line in sys.stdin:
        f = line.split()
        if len(f) == 5:
            states.append((float(f[0]), float(f[1]), [float(x) / 1000.0 for x in f[2:]]))
    ts = load.timescale(builtin=True)
    for line1, line2 in sets(sys.argv[1]):
        words = []
        sat = Satrec.twoline2rv(line1, line2)
        e, _, _ = sat.sgp4(sat.jdsatepoch, sat.jdsatepochF)
        if e == 0:
            words.append("sgp4")
        try:
            sky = EarthSatellite(line1, line2, "set", ts)
            if sky.model.error == 0 and abs(sky.epoch.tt - sat.jdsatepoch - sat.jdsatepochF) < 0.01:
                words.append("skyfield")
        except ValueError:
            pass
        epoch = sat.jdsatepoch + sat.jdsatepochF
        near = [s for s in states if abs(s[0] + s[1] - epoch) <= 1.0]
        worst = 0.0
        for whole, frac, pos in near:
            e, r, _ = sat.sgp4(whole, frac)
            if e != 0:
                worst = float("inf")
                continue
            worst = max(worst, math.dist(r, pos))
        print("%s %s %d %s" % (line1[18:32], ",".join(words) or "-", len(near),
                               "%.3f" % worst if near else "-"))


main()
