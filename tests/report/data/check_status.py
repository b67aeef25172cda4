"""Checks the station's status JSON against its schema
(docs/station-status.schema.json) and its description
(docs/station-status.md: every field of the schema is named there), and
recomputes each rate and its 95 % Wilson score interval by itself.

usage: check_status.py STATUS.json SCHEMA.json DESCRIPTION.md
Exits 0 when all holds, 1 with the reasons otherwise, 77 when jsonschema is
not installed."""
import json
import math
import statistics
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed")
    sys.exit(77)

# The two-sided 95 % quantile of the standard normal distribution.
Z = statistics.NormalDist().inv_cdf(0.975)


def wilson(successes, n):
    p = successes / n
    centre = p + Z * Z / (2 * n)
    half = Z * math.sqrt(p * (1 - p) / n + Z * Z / (4 * n * n))
    return (centre - half) / (1 + Z * Z / n), (centre + half) / (1 + Z * Z / n)


def field_names(schema):
    """Every property name the schema defines, at any depth."""
    names = set()
    if isinstance(schema, dict):
        for name, sub in schema.get("properties", {}).items():
            names.add(name)
            names |= field_names(sub)
        for key in ("items", "additionalProperties"):
            names |= field_names(schema.get(key))
    return names


def rate_problems(where, figures):
    if figures["attempts"] == 0:
        expected = (None, None, None)
    else:
        low, high = wilson(figures["successes"], figures["attempts"])
        expected = (figures["successes"] / figures["attempts"], low, high)
    got = (figures["rate"], figures["rate_low"], figures["rate_high"])
    for name, g, e in zip(("rate", "rate_low", "rate_high"), got, expected):
        if (g is None) != (e is None) or (g is not None and abs(g - e) > 1e-12):
            return [f"{where}: {name} {g}, expected {e}"]
    return []


def main():
    status = json.load(open(sys.argv[1], encoding="utf-8"))
    schema = json.load(open(sys.argv[2], encoding="utf-8"))
    description = open(sys.argv[3], encoding="utf-8").read()
    problems = []
    for error in jsonschema.Draft7Validator(schema).iter_errors(status):
        problems.append(f"schema: {list(error.absolute_path)}: {error.message}")
    for name in sorted(field_names(schema)):
        if f"`{name}`" not in description:
            problems.append(f"the description does not name `{name}`")
    if not problems:
        readers = status["readers"]
        for r in readers:
            problems += rate_problems(r["name"], r)
            bounds = status["station"]["poll_bucket_bounds"]
            durations = r["poll_durations"]
            if len(durations["counts"]) != len(bounds) + 1:
                problems.append(f"{r['name']}: {len(durations['counts'])} buckets")
            if sum(durations["counts"]) != durations["count"]:
                problems.append(f"{r['name']}: bucket counts do not add up to count")
            if len(r["recent"]["attempts"]) != len(r["recent"]["successes"]):
                problems.append(f"{r['name']}: recent series of different lengths")
        total = status["total"]
        problems += rate_problems("total", total)
        for key in ("runs", "attempts", "successes"):
            if total[key] != sum(r[key] for r in readers):
                problems.append(f"total {key} {total[key]} is not the readers' sum")
        if total["readers"] != len(readers):
            problems.append("total readers")
    for p in problems:
        print(p)
    print(f"{len(status.get('readers', []))} readers checked")
    return 1 if problems else 0


sys.exit(main())
