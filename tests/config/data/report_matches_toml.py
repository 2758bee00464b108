"""Checks a reload report's "config" JSON against an independent TOML parser.

usage: report_matches_toml.py FILE.toml CONFIG.json
Prints "match" and exits 0, or prints both sides and exits 1.
"""
import json
import math
import sys
import tomllib


def host_value(v):
    # The conversion the host promises: booleans become 1/0, non-finite floats
    # and anything that is not a text, number or list render as null.
    if isinstance(v, bool):
        return int(v)
    if isinstance(v, (int, str)):
        return v
    if isinstance(v, float):
        return v if math.isfinite(v) else None
    if isinstance(v, list):
        return [host_value(e) for e in v]
    return None


with open(sys.argv[1], "rb") as f:
    doc = tomllib.load(f)
group = doc.get("sccp-screening")
expected = {k: host_value(v) for k, v in group.items()} if isinstance(group, dict) else None

with open(sys.argv[2], encoding="utf-8") as f:
    got = json.load(f)

a = json.dumps(expected, sort_keys=True)
b = json.dumps(got, sort_keys=True)
if a == b:
    print("match")
    sys.exit(0)
print("expected:", a)
print("got:     ", b)
sys.exit(1)
