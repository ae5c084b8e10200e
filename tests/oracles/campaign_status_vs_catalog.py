"""trokcampaign status --json against the catalog, read by Python's own JSON
and SQLite readers, column by column.

usage: /usr/bin/python3 campaign_status_vs_catalog.py STATUS.json CATALOG.sqlite

Prints "agree N" (N days) when every day's every column agrees (reals to one
part in a million) and the outcome counts match; fails with the first
disagreement otherwise.
"""
import json
import sqlite3
import sys

s = json.load(open(sys.argv[1]))
db = sqlite3.connect(sys.argv[2])
db.row_factory = sqlite3.Row
rows = {r['day']: dict(r) for r in db.execute('SELECT * FROM days')}
assert len(s['days']) == len(rows) == s['days_total'], 'day count'
for d in s['days']:
    r = rows[d['day']]
    for k, v in r.items():
        w = d[k]
        ok = abs(w - v) <= 1e-6 * max(1, abs(v)) if isinstance(v, float) else w == v
        assert ok, (d['day'], k, v, w)
counts = {}
for r in rows.values():
    counts[r['outcome']] = counts.get(r['outcome'], 0) + 1
assert all(s['counts'][k] == counts.get(k, 0) for k in s['counts']), s['counts']
print('agree', len(rows))
