#!/usr/bin/env bash
# Builds the plug-in and the qel-screen host, then screens the bundled sample
# capture with the bundled configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

echo "== configuring (build/)" >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# A first build compiles everything, tests and benchmarks included: several
# minutes on two cores. Ninja's [done/total] lines show how far it is.
echo "== building with $(nproc) jobs; a first build takes several minutes" >&2
start=$SECONDS
cmake --build build -j "$(nproc)" >&2
echo "== built in $((SECONDS - start)) s" >&2

echo "== qel-screen check examples/screening.toml" >&2
build/bin/qel-screen check examples/screening.toml
echo "== qel-screen screen --config examples/screening.toml --explain examples/sample.pcap" >&2
build/bin/qel-screen screen --config examples/screening.toml --explain examples/sample.pcap
