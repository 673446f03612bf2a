#!/usr/bin/env bash
# Builds what is missing and runs fwload.
#   tools/run.sh            the demo: a simulated printer behind a private print server and a
#                           sample package (tools/demo.sh); unattended when there is no display
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
