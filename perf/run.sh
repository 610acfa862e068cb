#!/usr/bin/env bash
# Runs a built vsk_perf and prints every benchmark as a ratio against its reference from the same run.
#
#   perf/run.sh PATH/TO/vsk_perf [extra Google Benchmark options...]
#
# Naming: a benchmark "Group_Variant" (optionally "/args") is compared with "Group_Reference" of the same
# args, or with "Group_Reference" without args when there is none with them. The ratio is the reference's
# time divided by the benchmark's time: its speed relative to the reference (above 1 is faster). For
# equal amounts of work that is also the throughput ratio.
#
# Times: the least of the repetitions (five unless a benchmark sets its own), of the CPU time, or of the wall
# time for benchmarks timed by wall time (the name ends in /real_time). A shared machine only ever makes a
# run slower, so the least of several runs is the one nearest to the code's own cost.
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1" ]]; then
    echo "usage: $0 PATH/TO/vsk_perf [benchmark options...]" >&2
    exit 2
fi
program=$1
shift

json=$(mktemp)
trap 'rm -f "$json"' EXIT

"$program" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true \
    --benchmark_out="$json" --benchmark_out_format=json "$@" >&2

python3 - "$json" <<'PY'
import json, re, sys

with open(sys.argv[1]) as f:
    data = json.load(f)

times = {}
order = []
for b in data.get("benchmarks", []):
    if b.get("error_occurred") or b.get("run_type") == "aggregate":
        continue
    name = b.get("run_name", b["name"])
    t = b["real_time"] if name.endswith("/real_time") else b["cpu_time"]
    if name not in times:
        order.append(name)
        times[name] = t
    times[name] = min(times[name], t)

def split(name):
    base, _, args = name.partition("/")
    group, _, variant = base.partition("_")
    return group, variant, args

width = max((len(n) for n in order), default=0)
print("%-*s  %s" % (width, "benchmark", "ratio to reference (reference time / time)"))
missing = 0
for name in order:
    group, variant, args = split(name)
    if variant == "Reference":
        continue
    ref = None
    for candidate in ([group + "_Reference/" + args] if args else []) + [group + "_Reference"]:
        if candidate in times:
            ref = candidate
            break
    if ref is None:
        print("%-*s  no reference" % (width, name))
        missing += 1
        continue
    print("%-*s  %.3f  (against %s)" % (width, name, times[ref] / times[name], ref))
sys.exit(1 if missing else 0)
PY
