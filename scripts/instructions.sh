#!/usr/bin/env bash
# Instructions per decoded-and-screened MO-ForwardSM message, from callgrind:
# the difference between two runs of the probe divided by the difference in
# messages, so start-up, loading the module and reading the configuration
# cancel out. The probe hosts the plug-in module as qel-screen does (dlopen).
#
#   scripts/instructions.sh            BUILD_DIR (default build) to build elsewhere
#
# Prints one line per rule set: the worst case of the linear scans
# (bench/data/worst-case.toml) and the example configuration; then the whole
# tool end to end on the bench capture (sample-gen's traffic mix): reading,
# extraction, decoding, screening, counting and the JSON Lines record, as
# `qel-screen screen --threads 1 --format jsonl` runs it, the difference of a
# 1,000,000- and a 100,000-message capture divided by the difference.
#
#   QUICK=1 scripts/instructions.sh    end to end on 110,000 and 10,000 messages
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
bash scripts/deps.sh
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target instructions_probe qel-screen sample-gen >/dev/null

collected() {  # collected COMMAND... -> instructions callgrind counted
  local out
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null) || {
    echo "failed under callgrind: $*" >&2
    echo "$out" >&2
    exit 1
  }
  grep -oP 'Collected : \K[0-9]+' <<<"$out"
}
count() {  # count N CONFIG -> total instructions for N messages
  collected "$build/bin/instructions_probe" "$1" "$2"
}

small=1000
large=101000
for config in bench/data/worst-case.toml examples/screening.toml; do
  a=$(count $small "$config")
  b=$(count $large "$config")
  printf 'instructions per message (decode + screen, MO-ForwardSM UDT), %-26s %d\n' \
    "$config:" $(((b - a) / (large - small)))
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-instructions.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [[ -n "${QUICK:-}" ]]; then few=10000 many=110000; else few=100000 many=1000000; fi
end_to_end() {  # end_to_end N -> instructions of the whole run on N messages
  "$build/bin/sample-gen" -o "$work/$1.pcap" --count "$1" 2>/dev/null
  collected "$build/bin/qel-screen" screen --threads 1 --format jsonl \
    --config examples/screening.toml "$work/$1.pcap"
}
a=$(end_to_end $few)
b=$(end_to_end $many)
printf 'instructions per message end to end (qel-screen screen --threads 1 --format jsonl, %d-message bench capture): %d\n' \
  $many $(((b - a) / (many - few)))
