"""Checks a Prometheus text exposition with the prometheus_client parser,
independently of the code that wrote it: every family has HELP and TYPE,
counters end in _total, histogram buckets are cumulative with +Inf equal
to the count, and labels decode to the values given.

usage: check_exposition.py FILE [--expect LABEL=VALUE]...
Exits 0 when all holds, 1 with the reasons otherwise, 77 when the parser
is not installed."""
import math
import sys

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("python3-prometheus-client is not installed")
    sys.exit(77)


def histogram_problems(family):
    problems = []
    series = {}
    for s in family.samples:
        key = tuple(sorted((k, v) for k, v in s.labels.items() if k != "le"))
        series.setdefault(key, {"buckets": [], "count": None, "sum": None})
        if s.name.endswith("_bucket"):
            series[key]["buckets"].append((float(s.labels["le"]), s.value))
        elif s.name.endswith("_count"):
            series[key]["count"] = s.value
        elif s.name.endswith("_sum"):
            series[key]["sum"] = s.value
    for key, one in series.items():
        buckets = one["buckets"]
        bounds = [b for b, _ in buckets]
        if bounds != sorted(bounds) or not bounds or bounds[-1] != math.inf:
            problems.append(f"{family.name}{key}: bucket bounds {bounds}")
        values = [v for _, v in buckets]
        if any(b < a for a, b in zip(values, values[1:])):
            problems.append(f"{family.name}{key}: buckets not cumulative {values}")
        if one["count"] is None or one["sum"] is None:
            problems.append(f"{family.name}{key}: no _count or _sum")
        elif values and values[-1] != one["count"]:
            problems.append(f"{family.name}{key}: +Inf {values[-1]} != count {one['count']}")
    return problems


def main():
    path = sys.argv[1]
    expected = [a.split("=", 1) for a in sys.argv[3::2]] if "--expect" in sys.argv else []
    text = open(path, encoding="utf-8").read()
    problems = []
    families = list(text_string_to_metric_families(text))
    help_lines = [l for l in text.splitlines() if l.startswith("# HELP ")]
    type_lines = [l for l in text.splitlines() if l.startswith("# TYPE ")]
    if len(help_lines) != len(families) or len(type_lines) != len(families):
        problems.append(f"{len(families)} families, {len(help_lines)} HELP, "
                        f"{len(type_lines)} TYPE lines")
    seen = set()
    for family in families:
        if family.name in seen:
            problems.append(f"{family.name} declared twice")
        seen.add(family.name)
        if not family.documentation:
            problems.append(f"{family.name} has no HELP")
        if family.type == "unknown":
            problems.append(f"{family.name} has no TYPE")
        if not family.samples:
            problems.append(f"{family.name} has no sample")
        if not family.name.startswith("rw_"):
            problems.append(f"{family.name} lacks the rw_ prefix")
        if family.type == "counter":
            if any(not s.name.endswith("_total") for s in family.samples):
                problems.append(f"{family.name}: a counter sample without _total")
            if any(s.value < 0 for s in family.samples):
                problems.append(f"{family.name}: a negative counter")
        if family.type == "histogram":
            problems += histogram_problems(family)
    for label, value in expected:
        if not any(s.labels.get(label) == value for f in families for s in f.samples):
            problems.append(f"no sample with {label}={value!r}")
    for p in problems:
        print(p)
    print(f"{len(families)} families checked")
    return 1 if problems else 0


sys.exit(main())
