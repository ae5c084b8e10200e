"""Orbit numbers and ascending nodes of an element file, as pyorbital sees them.

usage: /usr/bin/python3 pyorbital_orbits.py ELEMENT_FILE SATELLITE < times

Each input line: an orbit number, the UTC time of the middle of that orbit and
the UTC time of its ascending node as another program predicts them (ISO 8601,
no zone). Each output line: the orbit number given, pyorbital's orbit number
at the middle time, and pyorbital's last ascending node before the middle time
minus the given node time, in seconds. Status 3 when pyorbital is missing.
"""
import sys

try:
    import numpy as np
    from pyorbital.orbital import Orbital
except ImportError as e:
    print("pyorbital not available: %s" % e, file=sys.stderr)
    sys.exit(3)


def main():
    orbital = Orbital(sys.argv[2], tle_file=sys.argv[1])
    for line in sys.stdin:
        fields = line.split()
        if len(fields) != 3:
            continue
        mid = np.datetime64(fields[1], "us")
        node = np.datetime64(fields[2], "us")
        number = orbital.get_orbit_number(mid)
        offset = (orbital.get_last_an_time(mid) - node) / np.timedelta64(1, "us") * 1e-6
        print("%s %d %.3f" % (fields[0], number, offset))


main()
