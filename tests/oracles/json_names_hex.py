"""The file names in JSON outputs, as the bytes they stand for.

usage: /usr/bin/python3 json_names_hex.py JSON_TEXT...

For each JSON text given, the values of its keys "file", "ephemeris" and
"attitude" (where present), each turned back into bytes with Python's
surrogateescape (a byte that is not UTF-8 travels as \\udcXX) and printed in
hexadecimal, one a line.
"""
import json
import sys

for text in sys.argv[1:]:
    d = json.loads(text)
    for k in ('file', 'ephemeris', 'attitude'):
        if k in d:
            print(d[k].encode('utf-8', 'surrogateescape').hex())
