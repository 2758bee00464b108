#!/usr/bin/env bash
# Builds the Debian packages (cpack -G DEB), checks their file lists and
# dependencies, unpacks them into a throwaway root and screens the sample
# capture with the unpacked tool, plug-in and example configuration.
# usage: scripts/package-test.sh [BUILD-DIR]   (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v dpkg-deb >/dev/null; then
  echo "package test skipped: dpkg-deb is not installed" >&2
  exit 0
fi
dir=${1:-build-deb}
echo "=== $dir (Debian packages) ===" >&2
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -rf "$dir/packages"
# The plug-in module has no soname by design; CPack's note about it goes to the log.
if ! (cd "$dir" && cpack -G DEB >cpack.log 2>&1); then
  cat "$dir/cpack.log" >&2
  exit 1
fi

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
version=$(sed -n 's/^project(qel-screening-sccp VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE \([0-9]*\))/\1/p' cmake/Distribution.cmake)
libversion=$(sed -n 's/^set(PXHOST_VERSION \([0-9.]*\))/\1/p' host/CMakeLists.txt)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)

deb() { echo "$dir/packages/$1_${version}-${release}_${arch}.deb"; }
for p in qel-screening-sccp qel-screening-sccp-dev qel-screen; do
  [[ -f $(deb "$p") ]] || fail "no package $(deb "$p")"
done
((failures == 0)) || exit 1

has_file() {  # has_file PACKAGE PATH
  dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | grep -qx "\./${2#/}" || fail "$1 lacks $2"
}
field() { dpkg-deb -f "$(deb "$1")" "$2"; }

lib=/usr/lib/$multiarch
has_file qel-screening-sccp "$lib/qel-screening-sccp.so"
has_file qel-screening-sccp "$lib/libpxhost.so.${libversion%%.*}"
has_file qel-screening-sccp "$lib/libpxhost.so.$libversion"
has_file qel-screening-sccp /usr/share/man/man5/qel-screening-sccp.5
has_file qel-screening-sccp /usr/share/doc/qel-screening-sccp/configuration.md
has_file qel-screening-sccp /usr/share/doc/qel-screening-sccp/examples/screening.toml
has_file qel-screening-sccp /usr/share/doc/qel-screening-sccp/examples/sample.pcap
has_file qel-screening-sccp-dev "$lib/libpxhost.so"
has_file qel-screening-sccp-dev /usr/include/px/ScreeningFilter.hpp
has_file qel-screening-sccp-dev /usr/include/px/PluginEntryPoints.hpp
has_file qel-screening-sccp-dev "$lib/cmake/pxhost/pxhostConfig.cmake"
has_file qel-screening-sccp-dev "$lib/cmake/pxhost/pxhostConfigVersion.cmake"
has_file qel-screening-sccp-dev "$lib/cmake/pxhost/pxhostTargets.cmake"
has_file qel-screening-sccp-dev "$lib/pkgconfig/pxhost.pc"
has_file qel-screen /usr/bin/qel-screen
has_file qel-screen /usr/share/man/man1/qel-screen.1
has_file qel-screen /usr/share/bash-completion/completions/qel-screen
# Nothing is packaged twice, and nothing from the build tree leaks in.
dups=$(for p in qel-screening-sccp qel-screening-sccp-dev qel-screen; do
  dpkg-deb -c "$(deb "$p")" | awk '$1 !~ /^d/ {print $6}'; done | sort | uniq -d)
[[ -z $dups ]] || fail "files in more than one package: $dups"
dpkg-deb -c "$(deb qel-screen)" | grep -q "sample-gen" && fail "qel-screen packages sample-gen"

for p in qel-screening-sccp qel-screening-sccp-dev qel-screen; do
  [[ $(field "$p" Version) == "$version-$release" ]] || fail "$p has version $(field "$p" Version)"
  [[ -n $(field "$p" Description) ]] || fail "$p has no description"
done
runtime_deps=$(field qel-screening-sccp Depends)
tool_deps=$(field qel-screen Depends)
dev_deps=$(field qel-screening-sccp-dev Depends)
for d in libc6 libstdc++6 libtomlplusplus3; do
  grep -q "$d" <<<"$runtime_deps" || fail "qel-screening-sccp does not depend on $d: $runtime_deps"
done
for d in libc6 libpcap0.8 libfmt "qel-screening-sccp (= $version-$release)"; do
  grep -qF "$d" <<<"$tool_deps" || fail "qel-screen does not depend on $d: $tool_deps"
done
grep -qF "qel-screening-sccp (= $version-$release)" <<<"$dev_deps" \
  || fail "qel-screening-sccp-dev does not depend on the runtime: $dev_deps"
grep -q pxhost <<<"$tool_deps" && fail "qel-screen depends on a package named after libpxhost: $tool_deps"
dpkg-deb -I "$(deb qel-screening-sccp)" shlibs | grep -q "^libpxhost ${libversion%%.*} qel-screening-sccp" \
  || fail "qel-screening-sccp declares no shlibs for libpxhost"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for p in qel-screening-sccp qel-screening-sccp-dev qel-screen; do dpkg -x "$(deb "$p")" "$root"; done
doc=$root/usr/share/doc/qel-screening-sccp
"$root/usr/bin/qel-screen" --version | grep -q "^plug-in qel-screening-sccp $version (" \
  || fail "the unpacked qel-screen does not find the unpacked plug-in"
set +e
out=$("$root/usr/bin/qel-screen" screen --config "$doc/examples/screening.toml" \
  --format jsonl "$doc/examples/sample.pcap" 2>"$root/summary")
status=$?
set -e
[[ $status -eq 0 ]] || fail "screening from the unpacked root exited $status: $(cat "$root/summary")"
records=$(grep -c '"verdict"' <<<"$out" || true)
denied=$(grep -c '"verdict":"explicitlyDenied"' <<<"$out" || true)
[[ $records -eq 160 && $denied -eq 14 ]] \
  || fail "unpacked screening gave $records records, $denied explicitly denied (expected 160, 14)"
man -l "$root/usr/share/man/man1/qel-screen.1" >/dev/null 2>&1 || fail "qel-screen.1 does not render"

if ((failures)); then
  echo "package test: $failures failures" >&2
  exit 1
fi
echo "package test: 3 packages built, checked, unpacked and screened the sample" >&2
