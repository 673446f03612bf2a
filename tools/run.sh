#!/usr/bin/env bash
# Builds what is missing and starts fwload. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake --preset default >/dev/null
fi
cmake --build --preset default >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  echo "No display. Run the program under a virtual one:"
  echo "  xvfb-run -a tools/run.sh $*"
  exit 1
fi
exec build/bin/fwload "$@"
