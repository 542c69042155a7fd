#!/bin/sh
# Builds the bench preset and runs the three micro-benchmark programs, one
# row per benchmark in a single table (times per iteration, one thread).
# Extra arguments go to every program, e.g. --benchmark_filter=Segment.
# JOBS=N sets the build's parallelism (default: all cores).
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench -j "${JOBS:-$(nproc)}" --target koc_services_bench koc_lineextract_bench koc_segment_bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for prog in koc_services_bench koc_lineextract_bench koc_segment_bench; do
  "build/bench/bench/$prog" --benchmark_format=json "$@" >"$out/$prog.json"
done
python3 - "$out"/*.json <<'EOF'
import json, sys
rows = []
for path in sys.argv[1:]:
    data = json.load(open(path))
    prog = path.rsplit("/", 1)[-1][:-5]
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        counters = ", ".join(f"{k}={v:g}" for k, v in b.items()
                             if k not in ("name", "run_name", "run_type", "repetitions", "repetition_index",
                                          "threads", "iterations", "real_time", "cpu_time", "time_unit",
                                          "family_index", "per_family_instance_index", "aggregate_name",
                                          "label", "error_occurred", "error_message")
                             and isinstance(v, (int, float)))
        rows.append((prog, b["name"], b["real_time"], b["cpu_time"], b["time_unit"], b["iterations"], counters))
print(f"{'program':<22} {'benchmark':<44} {'time':>11} {'cpu':>11} {'iterations':>11}  counters")
for prog, name, real, cpu, unit, it, counters in rows:
    print(f"{prog:<22} {name:<44} {real:>8.2f} {unit:<2} {cpu:>8.2f} {unit:<2} {it:>11}  {counters}")
EOF
