#!/usr/bin/env python3
"""Turns the JSON output of mp4v_bench into a markdown table.

Every figure is the median of the repetitions of one run; the ratios divide
medians measured in the same process. Case names are op/lines/implementation
(Google Benchmark adds "/real_time").

    report.py RESULTS.json [--output TABLE.md]
"""
import argparse
import json
import sys

# For each operation: the floor and the peer that the module is measured
# against, and the other cases shown beside them.
FLOOR = {"load": "floor_stdio", "save": "floor_safe_write"}
PEER = {"load": "inih", "save": "simpleini_nofsync"}
ORDER = {
    "load": ["module", "floor_stdio", "inih", "simpleini"],
    "save": ["module", "floor_safe_write", "floor_safe_write_dirsync",
             "simpleini_nofsync", "simpleini_safe_write"],
}
# Goals: load of the smallest file within 1.5x of inih; save within 1.2x of
# the safe-write floor; time per line from the middle to the largest file
# within this factor (a quadratic step would show as ~50x).
LOAD_GOAL = 1.5
SAVE_GOAL = 1.2
FLAT_GOAL = 1.5

TIME_SCALE_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def parse_name(name):
    """("load", 59, "module") from "load/59/module/real_time"."""
    parts = name.split("/")
    if len(parts) < 3 or not parts[1].isdigit():
        return None
    return parts[0], int(parts[1]), parts[2]


def collect(data):
    """{(op, lines, impl): {"time_us", "cv", "peak", "allocs"}} of medians."""
    cases = {}
    for run in data.get("benchmarks", []):
        if run.get("run_type") != "aggregate":
            continue
        key = parse_name(run.get("run_name", run.get("name", "")))
        if key is None:
            continue
        entry = cases.setdefault(key, {})
        aggregate = run.get("aggregate_name")
        if aggregate == "median":
            scale = TIME_SCALE_US[run.get("time_unit", "ns")]
            entry["time_us"] = run["real_time"] * scale
            entry["peak"] = run.get("peak_heap_bytes")
            entry["allocs"] = run.get("allocs_per_op")
            entry["lines"] = run.get("lines", key[1])
            entry["repetitions"] = run.get("repetitions")
        elif aggregate == "cv":
            entry["cv"] = run["real_time"]  # a fraction, unit-free
    return {k: v for k, v in cases.items() if "time_us" in v}


def ratio(cases, a, b):
    if a not in cases or b not in cases or cases[b]["time_us"] <= 0:
        return None
    return cases[a]["time_us"] / cases[b]["time_us"]


def per_line_ns(cases, key):
    entry = cases.get(key)
    if entry is None or not entry.get("lines"):
        return None
    return entry["time_us"] * 1e3 / entry["lines"]


def fmt_time(us):
    if us >= 1e4:
        return "%.1f ms" % (us / 1e3)
    if us >= 1e3:
        return "%.2f ms" % (us / 1e3)
    return "%.1f us" % us


def fmt_bytes(n):
    if n is None:
        return "-"
    if n >= 1 << 20:
        return "%.1f MiB" % (n / float(1 << 20))
    if n >= 1 << 10:
        return "%.1f KiB" % (n / 1024.0)
    return "%d B" % n


def fmt_ratio(r):
    return "-" if r is None else "%.2fx" % r


def goals(cases):
    """[(text, met)] for the three goals, from medians of the same run."""
    results = []
    sizes = sorted({k[1] for k in cases})
    if not sizes:
        return results
    small = sizes[0]
    r = ratio(cases, ("load", small, "module"), ("load", small, "inih"))
    if r is not None:
        results.append(("load of the %d-line file within %.1fx of inih: %.2fx"
                        % (small, LOAD_GOAL, r), r <= LOAD_GOAL))
    for size in sizes:
        r = ratio(cases, ("save", size, "module"),
                  ("save", size, FLOOR["save"]))
        if r is not None:
            text = ("save of the %d-line file within %.1fx of the safe-write "
                    "floor: %.2fx" % (size, SAVE_GOAL, r))
            d = ratio(cases, ("save", size, "module"),
                      ("save", size, "floor_safe_write_dirsync"))
            if d is not None:
                text += " (%.2fx of the floor that also syncs the directory)" % d
            results.append((text, r <= SAVE_GOAL))
    if len(sizes) >= 3:
        middle, large = sizes[-2], sizes[-1]
        for op in ("load", "save"):
            a = per_line_ns(cases, (op, middle, "module"))
            b = per_line_ns(cases, (op, large, "module"))
            if a and b:
                results.append((
                    "%s time per line flat from %d to %d lines (within %.1fx):"
                    " %.1f ns -> %.1f ns per line, %.2fx"
                    % (op, middle, large, FLAT_GOAL, a, b, b / a),
                    b / a <= FLAT_GOAL))
    return results


def render(data):
    cases = collect(data)
    context = data.get("context", {})
    out = []
    out.append("Machine: %s, %s CPUs (%s), load average at start %s." % (
        context.get("host_name", "?"), context.get("num_cpus", "?"),
        context.get("cpu_model", "?"),
        " ".join(context.get("load_average_at_start", "?").split()[:3])))
    reps = {v.get("repetitions") for v in cases.values()} - {None}
    out.append("Median wall time of %s repetitions of one run; ratios of "
               "medians from the same process; cv is the spread of the "
               "repetitions." % ("/".join(str(r) for r in sorted(reps)) or "?"))
    out.append("")
    out.append("| op | lines | case | median | cv | ns/line | vs floor "
               "| vs peer | peak heap | allocs/op |")
    out.append("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|")
    for op in ("load", "save"):
        for size in sorted({k[1] for k in cases if k[0] == op}):
            for impl in ORDER[op] + sorted(
                    {k[2] for k in cases if k[0] == op and k[1] == size}
                    - set(ORDER[op])):
                key = (op, size, impl)
                if key not in cases:
                    continue
                entry = cases[key]
                vs_floor = vs_peer = None
                if impl != FLOOR[op]:
                    vs_floor = ratio(cases, key, (op, size, FLOOR[op]))
                if impl == "module":
                    vs_peer = ratio(cases, key, (op, size, PEER[op]))
                cv = entry.get("cv")
                out.append("| %s | %d | %s | %s | %s | %.1f | %s | %s | %s | %s |" % (
                    op, size, impl, fmt_time(entry["time_us"]),
                    "-" if cv is None else "%.0f%%" % (100 * cv),
                    per_line_ns(cases, key), fmt_ratio(vs_floor),
                    fmt_ratio(vs_peer), fmt_bytes(entry.get("peak")),
                    "-" if entry.get("allocs") is None
                    else "%.0f" % entry["allocs"]))
    out.append("")
    out.append("Peers: load against inih's `ini_parse`, save against "
               "SimpleIni's `SaveFile` (simpleini_nofsync).")
    for name in ("note_simpleini", "note_floors"):
        if name in context:
            out.append("Note: %s." % context[name])
    out.append("")
    out.append("Goals:")
    for text, met in goals(cases):
        out.append("- %s: %s" % ("met" if met else "MISSED", text))
    return "\n".join(out) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results")
    parser.add_argument("--output")
    args = parser.parse_args(argv)
    with open(args.results) as f:
        data = json.load(f)
    text = render(data)
    if args.output:
        with open(args.output, "w") as f:
            f.write(text)
    sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
