#!/usr/bin/env bash
# Builds the fuzz target and runs it from the seed corpus for a bounded time.
# Usage: fuzz/run.sh [seconds] [extra libFuzzer options...]
# TARGET=fuzz_tekconv_cli fuzz/run.sh runs the command-line target instead of the library one.
# Any crash, leak, timeout or out-of-memory finding makes it fail; the input is written to
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=build-fuzz/corpus
artifacts=build-fuzz/artifacts
mkdir -p "$work" "$artifacts"
build-fuzz/fuzz/make_seeds "$work"
for f in fuzz/regressions/*; do [ -f "$f" ] && cp "$f" "$work/"; done

# A smaller quarantine than ASan's 256 MB: the runs are small, and the process stays small.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
build-fuzz/fuzz/${TARGET:-fuzz_tekconv} "$work" \
  -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@"
