#!/usr/bin/env bash
# Runs a built vsk_perf and prints every benchmark as a ratio against its reference from the same run.
#
#   perf/run.sh PATH/TO/vsk_perf [extra Google Benchmark options...]
#
# Naming: a benchmark is "Group_Variant" (optionally "/args"). In each group the reference is the benchmark
# labelled "reference" (benchsupport::MarkReference); its variant names what it is ("PlainStores",
# "NullBus", "OpenSsl", ...). Every other benchmark of the group is compared with the group's reference of
# the same args, or with the one without args when there is none with them. The ratio is the reference's
# time divided by the benchmark's time: its speed relative to the reference (above 1 is faster). For
# equal amounts of work that is also the throughput ratio.
#
# Times: the least of the repetitions (five unless a benchmark sets its own), of the CPU time, or of the wall
# time for benchmarks timed by wall time (the name ends in /real_time), or of the time a benchmark computes
# itself (/manual_time). A shared machine only ever makes a run slower, so the least of several runs is the
# one nearest to the code's own cost. The timing suffix and the run settings a benchmark fixes (iterations,
# repeats, process time) are not part of the name printed or the one a reference is found by.
# Counters whose name begins with "ratio" are printed too (the least of the repetitions' values is not
# taken: such a ratio does not depend on timing).
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1" ]]; then
    echo "usage: $0 PATH/TO/vsk_perf [benchmark options...]" >&2
    exit 2
fi
program=$1
shift

json=$(mktemp)
trap 'rm -f "$json"' EXIT

# Repetitions of different benchmarks run in random order among each other, so that a busy spell of the
# machine falls on a benchmark and its reference alike instead of on one of them.
"$program" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_display_aggregates_only=true --benchmark_out="$json" --benchmark_out_format=json "$@" >&2

python3 - "$json" <<'PY'
import json, re, sys

with open(sys.argv[1]) as f:
    data = json.load(f)

times = {}
ratios = {}
references = set()
order = []
for b in data.get("benchmarks", []):
    if b.get("error_occurred") or b.get("run_type") == "aggregate":
        continue
    name = b.get("run_name", b["name"])
    wall = name.endswith("/real_time") or name.endswith("/manual_time")
    t = b["real_time"] if wall else b["cpu_time"]
    # Run settings are not args: a reference is found by the name without them.
    name = re.sub(r"/(real|manual)_time$", "", name)
    name = re.sub(r"/(iterations|repeats):\d+|/process_time", "", name)
    if name not in times:
        order.append(name)
        times[name] = t
        ratios[name] = {k: v for k, v in b.items() if k.startswith("ratio")}
    times[name] = min(times[name], t)
    if b.get("label") == "reference":
        references.add(name)

def split(name):
    base, _, args = name.partition("/")
    group, _, variant = base.partition("_")
    return group, variant, args

# (group, args) -> the reference's name; two references for one key are an error.
reference_of = {}
clashes = 0
for name in sorted(references):
    group, _, args = split(name)
    if (group, args) in reference_of:
        print("%s and %s are both references of %s" % (reference_of[(group, args)], name, group))
        clashes += 1
    reference_of[(group, args)] = name

width = max((len(n) for n in order), default=0)
print("%-*s  %s" % (width, "benchmark", "ratio to reference (reference time / time)"))
missing = 0
# By name, so that a group's lines stand together whatever order the repetitions ran in.
for name in sorted(order):
    for counter, value in sorted(ratios[name].items()):
        print("%-*s  %s %.3f" % (width, name, counter, value))
    if name in references:
        continue
    group, variant, args = split(name)
    ref = reference_of.get((group, args)) or reference_of.get((group, ""))
    if ref is None:
        print("%-*s  no reference" % (width, name))
        missing += 1
        continue
    print("%-*s  %.3f  (against %s)" % (width, name, times[ref] / times[name], ref))
sys.exit(1 if missing or clashes else 0)
PY
