# shellcheck shell=bash
# Helpers of the tools' scripts, sourced by them.

# Ends the script with a message that names it.
die() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }

# Prints the script's opening comment (its usage) and ends with exit code 2.
usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2
  exit 2
}

# A process that has ended but was not reaped yet (its parent is gone) counts as ended.
alive() {
  kill -0 "$1" 2>/dev/null || return 1
  [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# Ends the process PID: asked first, killed when it has not gone within 5 s.
end_process() {
  local pid=$1
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 50); do
      alive "$pid" || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
}

# Waits up to 10 s for the command CHECK... to succeed while the process PID runs. Fails when
# the process ends first or the time runs out.
#   wait_ready PID CHECK...
wait_ready() {
  local pid=$1
  shift
  for _ in $(seq 1 100); do
    "$@" && return 0
    alive "$pid" || return 1
    sleep 0.1
  done
  return 1
}

free_port() {
  /usr/bin/python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

# Starts the printer simulator in the background with its folder DIR/printer and further options;
# sets sim_pid and the ports it listens on (raw_port, ftp_port, ipp_port; empty when it has none).
# Fails when it does not become ready. Its output keeps being read, so it never blocks on a full
# pipe.
#   start_simulator DIR [OPTION...]
start_simulator() {
  local dir=$1 line
  shift
  mkfifo "$dir/sim.out"
  /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/../simulator/simulator.py" --dir "$dir/printer" \
    "$@" >"$dir/sim.out" &
  sim_pid=$!
  raw_port="" ftp_port="" ipp_port=""
  while read -r line; do
    case "$line" in
      RAW_PORT=*) raw_port=${line#RAW_PORT=} ;;
      FTP_PORT=*) ftp_port=${line#FTP_PORT=} ;;
      IPP_PORT=*) ipp_port=${line#IPP_PORT=} ;;
      READY) break ;;
    esac
  done <"$dir/sim.out"
  cat "$dir/sim.out" >/dev/null &
  [ -n "$raw_port$ftp_port" ]
}

# A scratch folder for a run with the simulator and a private print server, in `work`: short,
# for the sockets that go into it, and open to the print server's user lp, who must pass through.
# At exit the simulator (sim_pid) and the print server in "$work/cups" are ended and the folder
# removed.
open_scratch() {
  work=$(mktemp -d /tmp/fwl.XXXXXX)
  chmod 755 "$work"
  sim_pid=""
  trap close_scratch EXIT
}

close_scratch() {
  if [ -n "$sim_pid" ]; then end_process "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; fi
  "$(dirname "${BASH_SOURCE[0]}")/../cups-sandbox.sh" stop "$work/cups" >/dev/null 2>&1 || true
  rm -rf "$work"
}
