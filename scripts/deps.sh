#!/usr/bin/env bash
# Installs the Debian packages the project needs, when run as root and some
# are missing. Sourced or run by the other scripts.
set -euo pipefail

QEL_PACKAGES=(
  cmake ninja-build g++ pkg-config binutils python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libcli11-dev libfmt-dev libpcap-dev
  clang libclang-rt-14-dev
  tshark valgrind time hyperfine
  scdoc dpkg-dev file man-db
)

missing=()
for p in "${QEL_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -eq 0 ]]; then
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    # tshark asks whether non-root users may capture; the default (no) is fine.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing Debian packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
fi
