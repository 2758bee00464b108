#!/usr/bin/env bash
# Instructions per decoded-and-screened MO-ForwardSM message, from callgrind:
# the difference between two runs of the probe divided by the difference in
# messages, so start-up and set-up cancel out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target instructions_probe >/dev/null

count() {  # count N -> total instructions for N messages
  local out
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null build/bin/instructions_probe "$1" 2>&1)
  grep -oP 'Collected : \K[0-9]+' <<<"$out"
}
small=1000
large=101000
a=$(count $small)
b=$(count $large)
echo "instructions per message (decode + screen, MO-ForwardSM UDT): $(( (b - a) / (large - small) ))"
