#!/usr/bin/env bash
# Builds the decoder and capture-layer fuzz targets with clang and runs each for RUNS inputs
# (default 200000) from its seed corpus. Exits non-zero when a target crashes
# or reports an error; the reproducer is left in the build directory.
#
#   fuzz/run.sh [RUNS]        FUZZ_BUILD_DIR (default build-fuzz) to build elsewhere
set -euo pipefail

runs="${1:-200000}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${FUZZ_BUILD_DIR:-$here/../build-fuzz}"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}"

status=0
for target in sccp sccp_reassembly tcap forward_sm ber sua capture pcapng ip_reassembly; do
  work="$build/work/$target"  # new inputs go here, never into the seed corpus
  mkdir -p "$work" "$build/artifacts"
  echo "== fuzz_$target: $runs runs"
  start=$(date +%s)
  if ! "$build/fuzz_$target" -runs="$runs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
      "$work" "$here/corpus/$target" 2>"$build/$target.log"; then
    echo "fuzz_$target FAILED; see $build/$target.log"
    tail -n 40 "$build/$target.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|cov:" "$build/$target.log" | tail -n 2 || true
  echo "   $(( $(date +%s) - start )) s"
done
exit $status
