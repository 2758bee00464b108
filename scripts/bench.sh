#!/usr/bin/env bash
# Capture throughput: qel-screen against tshark on the same capture, and the
# peak memory of qel-screen.
#
#   scripts/bench.sh [MESSAGES]      BUILD_DIR (default build) to build elsewhere
#
# Makes a capture of MESSAGES (default 1,000,000) SCCP messages with the sample
# generator in a temporary directory (removed at the end), times
# `qel-screen screen` with examples/screening.toml (output to /dev/null) and
# `tshark -Y` with a display filter for the same rules and `tshark -T fields`
# with the fields of a jsonl record, and prints the rates (SCCP messages per
# second) and their ratios. Timings are hyperfine's mean, except jsonl on one
# thread and on two: the medians of TURNS (default 15) runs of each, taken in
# turns (scripts/turns.py), with the CPU time (user + system) beside them,
# since the machine may be shared. The comparison with tshark is made on one
# thread (--threads 1); then --threads 2 against --threads 1 (the pipeline's
# scaling), and peak memory at 1, 2 and 4 threads.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
messages="${1:-1000000}"
config=examples/screening.toml

bash scripts/deps.sh
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target qel-screen sample-gen qel-screening-sccp >/dev/null
screen="$build/bin/qel-screen"

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# make CAPTURE N -> "FRAMES MESSAGES" as the generator reports them
make_capture() {
  local report
  report=$("$build/bin/sample-gen" -o "$1" --count "$2" 2>&1)
  sed -nE 's/.*: ([0-9]+) frames, ([0-9]+) SCCP messages.*/\1 \2/p' <<<"$report"
}
capture="$work/capture.pcap"
read -r frames count < <(make_capture "$capture" "$messages")
if [[ -z "${count:-}" ]]; then
  echo "bench.sh: the sample generator did not report its message count" >&2
  exit 1
fi

# The rules of examples/screening.toml that deny explicitly, as a display
# filter: calling and called prefixes, national translation types, denied MAP
# operations and denied IMSI prefixes. tshark dissects every frame down to GSM
# MAP to evaluate it, as qel-screen decodes every message down to the IMSI.
filter='sccp.calling.digits matches "^(28979|28512|882|883)"'
filter+=' || sccp.called.digits matches "^(2897900009|2897900008)"'
filter+=' || sccp.called.tt in {9, 10, 17}'
filter+=' || gsm_old.localValue in {22, 24, 58, 62, 65, 71}'
filter+=' || e212.imsi matches "^(001019|0010188)"'

# mean_seconds JSON -> mean wall time of hyperfine's first command
mean_seconds() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$1"
}
rate() { python3 -c 'import sys; print(f"{int(sys.argv[1]) / float(sys.argv[2]):,.0f}")' "$@"; }

hyperfine --style none --warmup 1 --runs 5 --export-json "$work/text.json" \
  "'$screen' screen --threads 1 --config $config '$capture' >/dev/null 2>&1" >/dev/null
python3 scripts/turns.py "$screen" "$config" "$capture" "${TURNS:-15}" "$work/turns.json"
hyperfine --style none --runs 2 --export-json "$work/tshark.json" \
  "tshark -n -r '$capture' -Y '$filter' >/dev/null 2>&1" >/dev/null
# tshark writing the fields a jsonl record holds: where each message came
# from, the addresses, the translation type, the MAP operation and the IMSI.
fields="-e frame.number -e frame.time_epoch -e m3ua.protocol_data_opc -e m3ua.protocol_data_dpc"
fields+=" -e ip.src -e ip.dst -e sctp.srcport -e sctp.dstport -e sctp.data_sid"
fields+=" -e sccp.calling.digits -e sccp.called.digits -e sccp.called.tt"
fields+=" -e gsm_old.localValue -e e212.imsi"
hyperfine --style none --runs 1 --export-json "$work/tshark-fields.json" \
  "tshark -n -r '$capture' -T fields $fields >/dev/null 2>&1" >/dev/null
text=$(mean_seconds "$work/text.json")
turn() {  # turn THREADS wall|cpu|fastest -> seconds, from the runs in turns
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]][sys.argv[3]])' \
    "$work/turns.json" "$1" "$2"
}
jsonl=$(turn 1 wall)
jsonl2=$(turn 2 wall)
tshark=$(mean_seconds "$work/tshark.json")
tsharkFields=$(mean_seconds "$work/tshark-fields.json")

# peak_kib CAPTURE [THREADS] -> maximum resident set size of a screening run, in KiB
peak_kib() {
  /usr/bin/time -f '%M' -o "$work/time.txt" "$screen" screen --threads "${2:-1}" \
    --config "$config" "$1" >/dev/null 2>&1
  cat "$work/time.txt"
}
small="$work/small.pcap"
read -r _ small_count < <(make_capture "$small" $((messages / 10)))
peak=$(peak_kib "$capture")
small_peak=$(peak_kib "$small")

size=$(du -m "$capture" | cut -f1)
echo "capture: $frames frames, $count SCCP messages, $size MB; rules: $config"
printf '%-44s %8.3f s  %14s messages/s\n' "qel-screen screen --threads 1 (text)" "$text" \
  "$(rate "$count" "$text")"
printf '%-44s %8.3f s  %14s messages/s\n' "qel-screen screen --threads 1 --format jsonl" \
  "$jsonl" "$(rate "$count" "$jsonl")"
printf '%-44s %8.3f s  %14s messages/s  (CPU %.3f s, --threads 1: %.3f s)\n' \
  "qel-screen screen --threads 2 --format jsonl" "$jsonl2" "$(rate "$count" "$jsonl2")" \
  "$(turn 2 cpu)" "$(turn 1 cpu)"
python3 -c 'import json,sys
r = json.load(open(sys.argv[1]))
scaling, fastest = r["1"]["wall"] / r["2"]["wall"], r["1"]["fastest"] / r["2"]["fastest"]
print(f"--threads 2 / --threads 1 (jsonl, medians of {r[sys.argv[2]]} runs each in turns):",
      f"{scaling:.2f}x; median of the pairs {r[sys.argv[3]]:.2f}x; fastest runs {fastest:.2f}x;",
      f"two --threads 1 runs side by side: {r[sys.argv[4]]:.2f}x (the machine\x27s ceiling now);",
      f"the pipeline got {100 * scaling / r[sys.argv[4]]:.0f} % of it")' \
  "$work/turns.json" runs pairs ceiling
printf '%-44s %8.3f s  %14s messages/s\n' "tshark -n -r FILE -Y FILTER > /dev/null" "$tshark" \
  "$(rate "$count" "$tshark")"
python3 -c 'import sys; print(f"ratio qel-screen (text) / tshark: {float(sys.argv[2]) / float(sys.argv[1]):.1f}")' \
  "$text" "$tshark"
printf '%-44s %8.3f s  %14s messages/s\n' "tshark -n -r FILE -T fields (jsonl's fields)" \
  "$tsharkFields" "$(rate "$count" "$tsharkFields")"
python3 -c 'import sys; print(f"ratio qel-screen --threads 1 (jsonl) / tshark -T fields: {float(sys.argv[2]) / float(sys.argv[1]):.1f}")' \
  "$jsonl" "$tsharkFields"
python3 -c 'import sys; print(f"peak memory of qel-screen (maximum RSS): {int(sys.argv[1]) / 1024:.1f} MiB"
                            f" on {sys.argv[2]} messages, {int(sys.argv[3]) / 1024:.1f} MiB on {sys.argv[4]}")' \
  "$peak" "$count" "$small_peak" "$small_count"
for threads in 2 4; do
  python3 -c 'import sys; print(f"peak memory with --threads {sys.argv[1]}: {int(sys.argv[2]) / 1024:.1f} MiB"
                              f" on {sys.argv[3]} messages, {int(sys.argv[4]) / 1024:.1f} MiB on {sys.argv[5]}")' \
    "$threads" "$(peak_kib "$capture" "$threads")" "$count" "$(peak_kib "$small" "$threads")" \
    "$small_count"
done
