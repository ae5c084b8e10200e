"""Fields of qlrdump --check --json, read by Python's own JSON reader.

usage: /usr/bin/python3 check_json.py faults|offsets CHECK.json

faults:  "passed" and each fault as kind:record, on one line.
offsets: every orbit's crossing_minus_node_s as %+.3f, on one line.
"""
import json
import sys

what, path = sys.argv[1], sys.argv[2]
d = json.load(open(path))
if what == 'faults':
    print(d['passed'], ' '.join('%s:%s' % (f['kind'], f['record']) for f in d['faults']))
elif what == 'offsets':
    print(' '.join('%+.3f' % o['crossing_minus_node_s'] for o in d['node_offsets']))
else:
    sys.exit('check_json.py: faults or offsets, not %r' % what)
