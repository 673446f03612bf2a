#!/usr/bin/env bash
# The built-in default, for trying fwload without a printer at hand:
#   - a simulated printer (tools/simulator/simulator.py) listening on a raw port and over FTP,
#     with an IPP identity: model "TORVA VELOXIA M3", firmware V1.00; after a download it
#     restarts for 5 s and then runs the sample's version V9.99,
#   - a private print server (tools/cups-sandbox.sh) with the queue "demo" that prints to it and
#     whose driver is a model that takes the download command,
#   - a sample firmware package SAMPLE.FWV made with gcab,
#   - fwload with its settings, log and temporary files in a private folder.
# With a display the program opens with the package and the queue chosen; close it to end the
# demo. Without one the download runs unattended and the script prints what the printer received.
# With "cli", fwload-cli sends the package to both of the printer's ways in one run (the queue
# "demo" and its FTP port) and prints its JSON document.
#
#   tools/demo.sh [BUILD-DIR] [cli]  (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/lib/common.sh
. "$root/tools/lib/common.sh"
bin="$root/${1:-build}/bin"
mode=${2:-window}
program=fwload
[ "$mode" = cli ] && program=fwload-cli
[ -x "$bin/$program" ] || { echo "demo: $bin/$program is not built" >&2; exit 1; }

open_scratch

start_simulator "$work" --model "TORVA VELOXIA M3" --version V1.00 --apply-version V9.99 \
  --restart-seconds 5 || { echo "demo: the simulated printer did not start" >&2; exit 1; }

cups_server=$("$root/tools/cups-sandbox.sh" start "$work/cups")
"$root/tools/cups-sandbox.sh" add-queue "$work/cups" demo \
  "socket://127.0.0.1:$raw_port/?snmp=false" "TORVA VELOXIA M3" "Simulated printer" "Demo"

# A sample package: a header naming two data files and the models it is meant for.
mkdir -p "$work/package/DATA"
cat >"$work/package/HEADER.FWB" <<'HEADER'
[FW_DownLoad]
FileFormat=FWB
DownLoadDesc=Sample firmware
DownLoadVersion=V9.99
DownLoadPrinter="M3","M2-214"
DownLoadFile=DATA\FW1.BIN,DATA\FW2.BIN
BeginMessage=This is the demo package.\nNothing real is updated.
HEADER
head -c 300000 /dev/urandom >"$work/package/DATA/FW1.BIN"
printf 'second part\x00\x1a\xff' >"$work/package/DATA/FW2.BIN"
(cd "$work/package" && gcab -c -z "$work/SAMPLE.FWV" HEADER.FWB DATA/FW1.BIN DATA/FW2.BIN)

export CUPS_SERVER="$cups_server"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" TMPDIR="$work"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
# The access library asks an FTP printer who it is over IPP, on the port of its settings.
mkdir -p "$XDG_CONFIG_HOME/fwload"
printf '[Access]\nIppPort=%s\nIppPath=/ipp/print\n' "$ipp_port" \
  >"$XDG_CONFIG_HOME/fwload/FWLOAD.INI"
echo "Simulated printer: raw port $raw_port, FTP port $ftp_port (directory ketora0)," \
  "IPP port $ipp_port (TORVA VELOXIA M3, firmware V1.00)"
echo "As an FTP printer: ftp://127.0.0.1:$ftp_port/ketora0"
echo "Print queue: demo (CUPS_SERVER=$CUPS_SERVER)"

status=0
if [ "$mode" = cli ]; then
  echo "fwload-cli send SAMPLE.FWV demo ftp://127.0.0.1:$ftp_port --yes --memory init --json"
  "$bin/fwload-cli" send "$work/SAMPLE.FWV" demo "ftp://127.0.0.1:$ftp_port" \
    --yes --memory init --json || status=$?
  echo "fwload-cli ended with exit code $status"
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/fwload" "$work/SAMPLE.FWV" /PR=demo || status=$?
else
  echo "No display: downloading unattended (fwload SAMPLE.FWV /PR=demo /NO /NM /IM=1)"
  "$bin/fwload" -platform offscreen "$work/SAMPLE.FWV" /PR=demo /NO /NM /IM=1 \
    2> >(grep -v 'does not support propagateSizeHints' >&2) || status=$?
  echo "fwload ended with exit code $status"
fi

# The print server hands the job to the printer on its own time: wait for it briefly.
for _ in $(seq 1 50); do
  [ "$(grep -o '"seq"' "$work/printer/report.json" 2>/dev/null | wc -l)" -ge \
    "$([ "$mode" = cli ] && echo 2 || echo 1)" ] && break
  sleep 0.1
done
echo "What the printer received (report.json):"
cat "$work/printer/report.json" 2>/dev/null || echo "(nothing)"
echo
if [ -f "$XDG_DATA_HOME/fwload/DownLoad.log" ]; then
  echo "Download log:"
  cat "$XDG_DATA_HOME/fwload/DownLoad.log"
fi
exit "$status"
