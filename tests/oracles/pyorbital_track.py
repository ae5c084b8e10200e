"""Where pyorbital's SGP4 puts a satellite over the Earth at given times.

usage: /usr/bin/python3 pyorbital_track.py ELEMENT_FILE TIME...

ELEMENT_FILE holds one named element set (three lines). Each TIME is a UTC
time (ISO 8601, no zone); each output line is the longitude and latitude
in degrees and the altitude in km at that time, from pyorbital's own
propagation, sidereal time and WGS-84 conversion.
"""
import sys
from datetime import datetime

from pyorbital.orbital import Orbital

lines = open(sys.argv[1]).read().splitlines()
orbit = Orbital(lines[0].strip(), line1=lines[1], line2=lines[2])
for text in sys.argv[2:]:
    print('%.6f %.6f %.4f' % orbit.get_lonlatalt(datetime.fromisoformat(text)))
