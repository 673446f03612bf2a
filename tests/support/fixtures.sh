#!/usr/bin/env bash
# The servers the printer tests run against, started and stopped as CTest fixtures.
#
#   fixtures.sh cups-start DIR    the private print server with the queues below
#   fixtures.sh cups-empty DIR    a private print server without any queue
#   fixtures.sh cups-stop DIR
#   fixtures.sh ipp-start DIR     IPP identities of two FTP printers: "withmodel" (PX-E3000, V1.23)
#                                 and "nomodel" (no model, V2.00); their ports in DIR/NAME.port
#   fixtures.sh ipp-stop DIR
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
sandbox="$tools/cups-sandbox.sh"
identity="$tools/ipp-identity.sh"

command=$1
dir=$2
case "$command" in
  cups-start)
    "$sandbox" start "$dir" >/dev/null
    add() { "$sandbox" add-queue "$dir" "$@"; }
    # Nothing listens on port 9 here: these queues are described, never printed to.
    add px1400 "socket://127.0.0.1:9/?snmp=false" "TORVA LEAFSPRINT PX-1400" \
      $'First line\r\nSecond line' "2F 東側"
    add px1300-lpt1 parallel:/dev/lp0 "TORVA PX-1300"
    add px1300-lpt2 parallel:/dev/lp1 "TORVA PX-1300"
    add lpt10 parallel:/dev/lp9 "TORVA PX-1300"
    add veloxia-m3 "lpd://127.0.0.1:9/queue" "TORVA VELOXIA M3"
    add プリンタ東京 "ipp://127.0.0.1:9/ipp/print" "TORVA PX-1100"
    add rawq "socket://127.0.0.1:9/?snmp=false"
    add nomodel "socket://127.0.0.1:9/?snmp=false" ""
    "$sandbox" add-class "$dir" lpt-pair px1300-lpt1 px1300-lpt2
    ;;
  cups-empty) "$sandbox" start "$dir" >/dev/null ;;
  cups-stop) "$sandbox" stop "$dir" ;;
  ipp-start)
    "$identity" start "$dir"
    "$identity" printer "$dir" withmodel 0 "PX-E3000" "V1.23" >/dev/null
    "$identity" printer "$dir" nomodel 0 "" "V2.00" >/dev/null
    ;;
  ipp-stop) "$identity" stop "$dir" ;;
  *) echo "fixtures.sh: unknown command $command" >&2; exit 2 ;;
esac
