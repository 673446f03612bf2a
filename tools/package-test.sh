#!/usr/bin/env bash
# Builds the Debian package and checks it as an installed system would meet it:
#   - cmake --workflow --preset package makes build-package/fwload_VERSION_amd64.deb;
#   - lintian shows every tag (info, pedantic and experimental ones too) and fails on an error or
#     a warning; the package carries no overrides; desktop-file-validate and appstreamcli check the
#     desktop entry and the metainfo;
#   - the package is unpacked (dpkg-deb -x) into a scratch root and run from there through its
#     usr/bin links, without LD_LIBRARY_PATH: the versions, the help file and the access library
#     found beside the program, an unattended download through a private print server and one over
#     FTP (the access library) to the printer simulator, and a package that needs cabextract,
#     opened once without it on PATH (the message must name it) and once with it.
# Prints how long each step took.
#
#   tools/package-test.sh [--no-build]     --no-build: check the package built last
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/lib/common.sh
. "$root/tools/lib/common.sh"

build=1
case "${1:-}" in
  --no-build) build=0 ;;
  "") ;;
  *) usage ;;
esac

version=$(sed -n 's/^project(fwload VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || die "no version in CMakeLists.txt"
deb="$root/build-package/fwload_${version}_amd64.deb"

started=$(date +%s.%N)
step_start=$started
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
step() {
  echo "== $1 ($(seconds_since "$step_start") s)"
  step_start=$(date +%s.%N)
}
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

# The package.
if [ "$build" = 1 ]; then
  rm -f "$root"/build-package/fwload_*.deb
  (cd "$root" && cmake --workflow --preset package) >"${TMPDIR:-/tmp}/fwload-package-build.log" 2>&1 ||
    { tail -40 "${TMPDIR:-/tmp}/fwload-package-build.log" >&2; fail "the package did not build"; }
  step "built $(basename "$deb")"
fi
[ -f "$deb" ] || fail "$deb is missing"

# Lintian: every tag shown; errors and warnings fail. No tag may be silenced by an override.
if dpkg-deb -c "$deb" | grep -q 'usr/share/lintian/overrides'; then
  fail "the package carries lintian overrides"
fi
lintian --display-info --pedantic --display-experimental --tag-display-limit 0 \
  --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
  fail "lintian reports errors or warnings"
step "lintian"

open_scratch

pkg="$work/root"
dpkg-deb -x "$deb" "$pkg"
desktop-file-validate "$pkg/usr/share/applications/fwload.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$pkg/usr/share/metainfo/invalid.fwload.fwload.metainfo.xml" ||
  fail "appstreamcli validate"
mkdir -p "$work/mime/packages"
cp "$pkg/usr/share/mime/packages/fwload.xml" "$work/mime/packages/"
XDG_DATA_DIRS=$work update-mime-database "$work/mime" || fail "update-mime-database rejects fwload.xml"
grep -q '^application/x-fwload-firmware-package$' "$work/mime/types" || fail "MIME types not known"

# What the package says of itself: relative links, no run path, stripped, cabextract required.
programs=(fwload)
[ -e "$pkg/usr/bin/fwload-cli" ] && programs+=(fwload-cli)
for p in "${programs[@]}"; do
  [ "$(readlink "$pkg/usr/bin/$p")" = "../lib/fwload/$p" ] || fail "usr/bin/$p is not ../lib/fwload/$p"
done
for f in "$pkg"/usr/lib/fwload/*; do
  file -b "$f" | grep -q '^ELF' || continue
  if readelf -d "$f" | grep -Eq 'RPATH|RUNPATH'; then fail "$f has a run path"; fi
  file -b "$f" | grep -q ', stripped' || fail "$f is not stripped"
done
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )cabextract(,|$)' || fail "Depends lacks cabextract"
step "desktop entry, metainfo, MIME, links, run paths"

# From here on the programs run as installed: through the links, no library path.
unset LD_LIBRARY_PATH
export QT_QPA_PLATFORM=offscreen

out=$("$pkg/usr/bin/fwload" --version)
echo "$out"
lib="$pkg/usr/lib/fwload"
[ "$(echo "$out" | head -1)" = "fwload $version" ] || fail "fwload --version: wrong version"
echo "$out" | grep -qxF "help file: $lib/FWLOAD.HLP" || fail "the help file is not found beside the program"
echo "$out" | grep -qxF "access library: $lib/libfwloadaccess.so" ||
  fail "the access library is not found beside the program"
# The same check sees a help file that is not there.
mv "$lib/FWLOAD.HLP" "$work/FWLOAD.HLP.away"
"$pkg/usr/bin/fwload" --version | grep -qxF "help file: $lib/FWLOAD.HLP (missing)" ||
  fail "fwload --version does not notice a missing help file"
mv "$work/FWLOAD.HLP.away" "$lib/FWLOAD.HLP"
if [ -e "$pkg/usr/bin/fwload-cli" ]; then
  "$pkg/usr/bin/fwload-cli" --version | grep -q "$version" || fail "fwload-cli --version"
fi
step "versions, help file and access library"

# The simulated printer behind a private print server, as the demo has it.
start_simulator "$work" || fail "the printer simulator did not start"
{ [ -n "$raw_port" ] && [ -n "$ftp_port" ]; } || fail "the printer simulator did not start"
export TMPDIR="$work"
CUPS_SERVER=$("$root/tools/cups-sandbox.sh" start "$work/cups")
export CUPS_SERVER
"$root/tools/cups-sandbox.sh" add-queue "$work/cups" demo \
  "socket://127.0.0.1:$raw_port/?snmp=false" "TORVA VELOXIA M3" >/dev/null
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A firmware package of two data files for the M3, and the same cabinet behind other bytes (as in
# a self-extracting file): only cabextract finds a cabinet there.
mkdir -p "$work/package/DATA"
printf '[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Package test\r\nDownLoadVersion=V1.00\r\n%s\r\n' \
  'DownLoadPrinter="M3"' >"$work/package/HEADER.FWB"
printf 'DownLoadFile=DATA\\FW1.BIN,DATA\\FW2.BIN\r\n' >>"$work/package/HEADER.FWB"
head -c 200000 /dev/urandom >"$work/package/DATA/FW1.BIN"
printf 'second part\x00\x1a\xff' >"$work/package/DATA/FW2.BIN"
data_bytes=$(($(stat -c %s "$work/package/DATA/FW1.BIN") + $(stat -c %s "$work/package/DATA/FW2.BIN")))
(cd "$work/package" && gcab -c -z "$work/SAMPLE.FWV" HEADER.FWB DATA/FW1.BIN DATA/FW2.BIN)
{ head -c 1000 /dev/zero; cat "$work/SAMPLE.FWV"; } >"$work/WRAPPED.FWV"

# Runs the unpacked fwload (with --path P: on the search path P); its exit code goes to $status,
# its standard error to $work/err.
status=0
fwload() {
  local path=$PATH
  if [ "$1" = --path ]; then
    path=$2
    shift 2
  fi
  status=0
  PATH=$path "$pkg/usr/bin/fwload" "$@" 2>"$work/err" || status=$?
  grep -v 'does not support propagateSizeHints' "$work/err" >&2 || true
}

# How many downloads the simulator has reported.
downloads() {
  /usr/bin/python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' \
    "$work/printer/report.json" 2>/dev/null || echo 0
}

# Waits until the simulator has reported COUNT downloads, then checks the last one:
#   expect_download COUNT CHANNEL MEMORY
expect_download() {
  local count=$1 channel=$2 memory=$3
  for _ in $(seq 1 100); do
    [ "$(downloads)" -ge "$count" ] && break
    sleep 0.1
  done
  /usr/bin/python3 - "$work/printer/report.json" "$count" "$channel" "$memory" "$data_bytes" <<'PY' ||
import json, sys
path, count, channel, memory, data = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
report = json.load(open(path))
assert len(report) == count, "%d downloads reported, %d expected" % (len(report), count)
last = report[-1]
print("printer received:", json.dumps({k: last[k] for k in ("channel", "shape", "data_length", "memory", "complete", "errors")}))
assert last["channel"] == channel, last["channel"]
assert last["complete"] and not last["errors"], last
assert last["shape"] == "wrapped+trailer", last["shape"]
assert last["data_length"] == data, last["data_length"]
assert last["memory"] == memory, last["memory"]
PY
    fail "the printer did not receive download $count as expected"
}

fwload "$work/SAMPLE.FWV" /PR=demo /NO /NM /IM=1
[ "$status" = 0 ] || fail "fwload to the print queue ended with $status"
expect_download 1 raw 1
step "fwload: unattended download through the print server"

ftp=("/HN=127.0.0.1:$ftp_port" "/M=TORVA VELOXIA M3" /NO /NM /IM=0)
fwload "$work/SAMPLE.FWV" "${ftp[@]}"
[ "$status" = 0 ] || fail "fwload to the FTP printer ended with $status"
expect_download 2 ftp 0
# It was the library beside the program that sent it: without it the same run fails.
mv "$lib/libfwloadaccess.so" "$work/libfwloadaccess.so.away"
fwload "$work/SAMPLE.FWV" "${ftp[@]}"
mv "$work/libfwloadaccess.so.away" "$lib/libfwloadaccess.so"
echo "without the access library beside it, the FTP run ended with $status"
[ "$status" != 0 ] || fail "fwload sent over FTP without its access library"
[ "$(downloads)" = 2 ] || fail "fwload sent over FTP without its access library"
step "fwload: unattended download over FTP (the access library)"

# Without cabextract the package cannot be unpacked: the run says what is missing, sends nothing.
nocab="$work/bin-without-cabextract"
mkdir "$nocab"
fwload --path "$nocab" "$work/WRAPPED.FWV" /PR=demo /NO /NM /IM=1
[ "$status" = 4 ] || fail "fwload without cabextract ended with $status, not 4"
grep -q 'cabextract' "$work/err" || fail "fwload without cabextract does not name it"
# The program ends only after the printer has taken what it sent: anything sent would be here.
sleep 1
[ "$(downloads)" = 2 ] || fail "fwload without cabextract sent something"
# With it, the same file goes through.
fwload "$work/WRAPPED.FWV" /PR=demo /NO /NM /IM=1
[ "$status" = 0 ] || fail "fwload with cabextract ended with $status"
expect_download 3 raw 1
step "fwload: a package that needs cabextract, without it and with it"

if [ -e "$pkg/usr/bin/fwload-cli" ]; then
  status=0
  "$pkg/usr/bin/fwload-cli" send "$work/SAMPLE.FWV" demo --yes --memory init || status=$?
  [ "$status" = 0 ] || fail "fwload-cli send ended with $status"
  expect_download 4 raw 1
  status=0
  PATH=$nocab "$pkg/usr/bin/fwload-cli" send "$work/WRAPPED.FWV" demo --yes --memory init \
    >"$work/err" 2>&1 || status=$?
  [ "$status" = 4 ] || fail "fwload-cli without cabextract ended with $status, not 4"
  grep -q 'cabextract' "$work/err" || fail "fwload-cli without cabextract does not name it"
  step "fwload-cli: send, and a package that needs cabextract without it"
else
  echo "SKIP: fwload-cli is not in the package yet: its --version and send are not checked"
fi

echo "package-test: passed ($(seconds_since "$started") s in all)"
