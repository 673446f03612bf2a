#!/usr/bin/env bash
# Runs the fleet example's playbook with ansible-playbook against localhost: a simulated printer
# behind a private print server (queue) and over FTP, a package made by gcab, fwload-cli from the
# build. Checks what the printer received, and that an unknown queue fails the host while the
# other printers are still updated.
#
#   ansible.sh FWLOAD-CLI
set -euo pipefail
cli=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/lib/common.sh
. "$root/tools/lib/common.sh"
example="$root/examples/ansible"

open_scratch
fail() { echo "FAIL: $*" >&2; exit 1; }

start_simulator "$work" --model "TORVA VELOXIA M3" --version V1.00 || fail "the simulated printer did not start"

cups_server=$("$root/tools/cups-sandbox.sh" start "$work/cups")
"$root/tools/cups-sandbox.sh" add-queue "$work/cups" site-q \
  "socket://127.0.0.1:$raw_port/?snmp=false" "TORVA VELOXIA M3" >/dev/null

mkdir -p "$work/package/DATA" "$work/config/fwload"
printf '[FW_DownLoad]\r\nFileFormat=FWB\r\nDownLoadDesc=Fleet\r\nDownLoadVersion=V2.00\r\nDownLoadPrinter="M3"\r\nDownLoadFile=DATA\\FW.BIN\r\n' \
  >"$work/package/HEADER.FWB"
head -c 200000 /dev/urandom >"$work/package/DATA/FW.BIN"
(cd "$work/package" && gcab -c -z "$work/FLEET.FWV" HEADER.FWB DATA/FW.BIN)
printf '[Access]\nIppPort=%s\nIppPath=/ipp/print\n' "$ipp_port" >"$work/config/fwload/FWLOAD.INI"

# Ansible keeps its own files in the scratch folder, not in the user's home.
export ANSIBLE_HOME="$work/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible/tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible/remote" ANSIBLE_NOCOLOR=1
# The host's private folder for the copy is made here (the modules' temporary folder).
mkdir -p "$work/host-tmp"
export TMPDIR="$work/host-tmp"
play() {  # play TARGETS-JSON
  cat >"$work/vars.json" <<VARS
{"firmware_file": "$work/FLEET.FWV", "fwload_cli": "$cli", "fwload_yes": true,
 "fwload_memory": "keep", "printer_targets": $1,
 "fwload_environment": {"CUPS_SERVER": "$cups_server", "XDG_CONFIG_HOME": "$work/config",
                        "XDG_DATA_HOME": "$work/data", "TMPDIR": "$work"}}
VARS
  ansible-playbook -i "$example/inventory.ini" "$example/playbook.yml" -l localhost \
    -e "@$work/vars.json" >"$work/play.out" 2>&1
}
# Every record of the report complete and without errors; prints how many of each channel.
received() {
  /usr/bin/python3 - "$work/printer/report.json" <<'PY'
import json, sys
try:
    records = json.load(open(sys.argv[1]))
except FileNotFoundError:
    records = []
records = records if isinstance(records, list) else records.get("records", [])
bad = [r for r in records if not r.get("complete") or r.get("errors")]
print(len([r for r in records if r["channel"] == "raw"]),
      len([r for r in records if r["channel"] == "ftp"]), len(bad))
PY
}
wait_for() {  # wait_for "RAW FTP BAD"
  for _ in $(seq 1 100); do
    [ "$(received)" = "$1" ] && return 0
    sleep 0.1
  done
  echo "received: $(received), wanted: $1" >&2
  return 1
}

targets="[\"site-q\", \"ftp://127.0.0.1:$ftp_port/ketora0\"]"
play "$targets" || { cat "$work/play.out"; fail "the play failed"; }
grep -q "site-q: code 0" "$work/play.out" || { cat "$work/play.out"; fail "no result for the queue"; }
wait_for "1 1 0" || fail "the printer did not receive both downloads whole"
# The host's copy is gone again.
[ -z "$(find "$work/host-tmp" -name 'FLEET.FWV')" ] || fail "the host's copy was left behind"

# An unknown queue fails the host; the printers it can reach are updated all the same.
targets="[\"site-q\", \"no-such-queue\", \"ftp://127.0.0.1:$ftp_port/ketora0\"]"
if play "$targets"; then cat "$work/play.out"; fail "an unknown queue did not fail the host"; fi
grep -q "fwload-cli ended with 32" "$work/play.out" || { cat "$work/play.out"; fail "exit code 32 not reported"; }
grep -q "no-such-queue: code 32" "$work/play.out" || { cat "$work/play.out"; fail "the unknown queue's result is missing"; }
wait_for "2 2 0" || fail "the other printers were not updated"
echo "PASS"
