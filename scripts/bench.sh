#!/usr/bin/env bash
# Builds the benchmarks, runs them with the Python peer and the whole-program measurements on
# this machine, and prints the figures as tables: `make bench`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build-bench
out=$build/results
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPENNARO_BUILD_BENCH=ON \
    -DPENNARO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target pipeline_bench parts_bench pennaro >/dev/null
mkdir -p "$out"

echo "pipeline benchmarks..." >&2
QT_QPA_PLATFORM=offscreen "$build/bench/pipeline_bench" --benchmark_out="$out/pipeline.json" \
    --benchmark_out_format=json >/dev/null
echo "parts benchmarks..." >&2
"$build/bench/parts_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/parts.json" --benchmark_out_format=json >/dev/null
echo "python peer..." >&2
python3 bench/peer.py --pages tests/fixtures/pages > "$out/peer.json"
echo "whole program..." >&2
rm -f "$out/program.json"
if ! python3 scripts/bench-program.py --program "$build/app/pennaro" --pages tests/fixtures/pages \
    --json "$out/program.json" >/dev/null; then
    echo "(whole-program figures could not be taken)" >&2
fi
python3 bench/report.py "$out"
