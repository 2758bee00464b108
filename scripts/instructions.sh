#!/usr/bin/env bash
# Instructions per decoded-and-screened MO-ForwardSM message, from callgrind:
# the difference between two runs of the probe divided by the difference in
# messages, so start-up, loading the module and reading the configuration
# cancel out. The probe hosts the plug-in module as qel-screen does (dlopen).
#
#   scripts/instructions.sh            BUILD_DIR (default build) to build elsewhere
#
# Prints one line per rule set: the worst case of the linear scans
# (bench/data/worst-case.toml) and the example configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
bash scripts/deps.sh
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target instructions_probe >/dev/null

count() {  # count N CONFIG -> total instructions for N messages
  local out
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    "$build/bin/instructions_probe" "$1" "$2" 2>&1) || {
    echo "instructions_probe failed on $2:" >&2
    echo "$out" >&2
    exit 1
  }
  grep -oP 'Collected : \K[0-9]+' <<<"$out"
}

small=1000
large=101000
for config in bench/data/worst-case.toml examples/screening.toml; do
  a=$(count $small "$config")
  b=$(count $large "$config")
  printf 'instructions per message (decode + screen, MO-ForwardSM UDT), %-26s %d\n' \
    "$config:" $(((b - a) / (large - small)))
done
