#!/usr/bin/env bash
# Builds what is missing and runs fwload.
#   tools/run.sh            the demo: a simulated printer behind a private print server and a
#                           sample package (tools/demo.sh); unattended when there is no display
#   tools/run.sh cli        the same demo through fwload-cli: the package to the queue and to the
#                           printer's FTP port in one run; prints the JSON document
#   tools/run.sh ARGS...    fwload with these arguments, against the machine's printers
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake --preset default >/dev/null
fi
cmake --build --preset default >/dev/null

if [ $# -eq 0 ]; then
  exec tools/demo.sh build
fi
if [ $# -eq 1 ] && [ "$1" = cli ]; then
  exec tools/demo.sh build cli
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  case " $* " in
    *" -platform "*) ;;
    *)
      echo "No display. Run fwload under a virtual one: xvfb-run -a tools/run.sh $*" >&2
      exit 1
      ;;
  esac
fi
exec build/bin/fwload "$@"
