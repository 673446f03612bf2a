#!/usr/bin/env bash
# Pictures of the program's windows for docs/: a private print server with a few queues, a
# sample package, and fwload_screenshots under a virtual display.
#   tools/screenshots.sh [OUTDIR] [BUILD-DIR]      (defaults: docs, build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "${1:-$root/docs}" && pwd)
bin="$root/${2:-build}/bin"
# Short: the program's own socket goes into it.
work=$(mktemp -d /tmp/fwl.XXXXXX)
chmod 755 "$work"
cleanup() { "$root/tools/cups-sandbox.sh" stop "$work/cups" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

sandbox="$root/tools/cups-sandbox.sh"
cups_server=$("$sandbox" start "$work/cups")
# Port 9 (discard) has no listener here: the queues are shown, never printed to.
"$sandbox" add-queue "$work/cups" Office-M3 "socket://127.0.0.1:9/?snmp=false" "TORVA VELOXIA M3" "2F office" "Tokyo 2F"
"$sandbox" add-queue "$work/cups" Laser-1300 parallel:/dev/lp0 "TORVA PX-1300" "Shipping desk" "Warehouse"
"$sandbox" add-queue "$work/cups" Front-1100 "ipp://127.0.0.1:9/ipp/print" "TORVA PX-1100" "Reception" "1F"
"$sandbox" add-queue "$work/cups" Colour-M2-212 "lpd://127.0.0.1:9/queue" "TORVA VELOXIA M2-212" "Design team" "3F"

# Firmware headers are written in code page 932.
mkdir "$work/firmware"
iconv -f UTF-8 -t CP932 >"$work/firmware/SAMPLE.FWB" <<'HEADER'
[FW_DownLoad]
FileFormat=FWB
DownLoadDesc=VELOXIA M3 制御ソフトウェア
DownLoadVersion=V2.10
DownLoadPrinter="M3","M2-212"
HEADER
printf '\x1a' >>"$work/firmware/SAMPLE.FWB"
head -c 200000 /dev/zero >>"$work/firmware/SAMPLE.FWB"
# Neighbours for the file dialog: kinds in either letter case, and a file it does not offer.
: >"$work/firmware/px1300_v305.fw_"
: >"$work/firmware/Veloxia-M2.FWV"
: >"$work/firmware/notes.txt"

export CUPS_SERVER="$cups_server"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" TMPDIR="$work"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1024x768x24" "$bin/fwload_screenshots" "$out" "$work/firmware/SAMPLE.FWB" Office-M3
