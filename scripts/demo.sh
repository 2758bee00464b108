#!/usr/bin/env bash
# Builds the plug-in and the qel-screen host, then screens the bundled sample
# capture with the bundled configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" >/dev/null

echo "== qel-screen check examples/screening.toml" >&2
build/bin/qel-screen check examples/screening.toml
echo "== qel-screen screen --config examples/screening.toml --explain examples/sample.pcap" >&2
build/bin/qel-screen screen --config examples/screening.toml --explain examples/sample.pcap
