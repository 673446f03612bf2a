#!/usr/bin/env bash
# IPP identities for simulated FTP printers: ippeveprinter answers Get-Printer-Attributes with a
# model (printer-make-and-model) and a firmware version (printer-firmware-string-version), as a
# real FTP printer does when the access library asks it who it is.
#
# ippeveprinter cannot start without DNS-SD, so `start` brings up a private D-Bus system bus and
# an avahi-daemon limited to the loopback interface; the machine's own buses are never used.
#
#   ipp-identity.sh start DIR
#       Starts the private dbus-daemon and avahi-daemon. DIR (created if needed, anywhere) keeps
#       their logs and the printers' files; whatever DIR still runs from an earlier start is
#       stopped first. The bus's socket lives in a fresh short folder /tmp/fwl.XXXXXX (named in
#       DIR/private): dbus refuses a socket path longer than about 100 bytes.
#   ipp-identity.sh printer DIR NAME PORT MODEL VERSION
#       Starts the printer NAME listening on PORT (0: a free port) at the path /ipp/print. MODEL
#       and VERSION are what it reports; an empty MODEL makes a printer that answers without a
#       model, an empty VERSION one without a version. Prints the port and writes it to
#       DIR/NAME.port; the printer's log is DIR/NAME.log. Returns when the printer answers.
#   ipp-identity.sh requests DIR NAME
#       Prints how many Get-Printer-Attributes requests NAME has answered so far.
#   ipp-identity.sh stop-printer DIR NAME
#       Stops one printer.
#   ipp-identity.sh stop DIR
#       Stops every printer of DIR, avahi-daemon and dbus-daemon. Quiet when nothing runs.
#
# avahi-daemon insists on a runtime folder /run/avahi-daemon owned by the user avahi. It gets a
# private /run in a mount namespace of its own, so it never meets another avahi-daemon's files;
# run by any other user than root, it runs as root of a user namespace in which the user avahi
# is that root.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

kill_pidfile() {
  local file=$1
  [ -f "$file" ] || return 0
  end_process "$(cat "$file")"
  rm -f "$file"
}

answers() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

stop_printer() {
  local dir=$1 name=$2
  kill_pidfile "$dir/$name.pid"
  rm -rf "$dir/$name.spool" "$dir/$name.port" "$dir/$name.attrs"
}

stop() {
  local dir=$1 f
  [ -d "$dir" ] || return 0
  for f in "$dir"/*.pid; do
    [ -e "$f" ] || continue
    case "$(basename "$f")" in
      avahi.pid | dbus.pid) ;;
      *) stop_printer "$dir" "$(basename "$f" .pid)" ;;
    esac
  done
  kill_pidfile "$dir/avahi.pid"
  kill_pidfile "$dir/dbus.pid"
  if [ -f "$dir/private" ]; then
    case "$(cat "$dir/private")" in
      /tmp/fwl.*) rm -rf "$(cat "$dir/private")" ;;
    esac
  fi
  rm -f "$dir/private" "$dir/env"
}

start() {
  local dir=$1
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  stop "$dir"
  local own
  own=$(mktemp -d /tmp/fwl.XXXXXX)
  echo "$own" >"$dir/private"
  local socket="$own/dbus.sock"

  cat >"$dir/dbus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <!-- avahi-daemon in a user namespace does not pass as its user: the socket's folder is
       reachable by that user alone. -->
  <auth>ANONYMOUS</auth>
  <allow_anonymous/>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  cat >"$dir/avahi.conf" <<EOF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
EOF

  dbus-daemon --config-file="$dir/dbus.conf" --nofork --nopidfile </dev/null \
    >"$dir/dbus.log" 2>&1 &
  echo $! >"$dir/dbus.pid"
  for _ in $(seq 1 50); do
    [ -S "$socket" ] && break
    sleep 0.1
  done
  [ -S "$socket" ] || { stop "$dir"; die "dbus-daemon did not start: $(cat "$dir/dbus.log")"; }
  echo "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket" >"$dir/env"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$socket"

  # avahi-daemon keeps its pid file and socket in /run/avahi-daemon: a private /run keeps them
  # apart from any other avahi-daemon's.
  local avahi=(avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title
               -f "$dir/avahi.conf")
  local private='mount -t tmpfs tmpfs /run && mkdir -p /run/avahi-daemon && exec "$@"'
  local ns=(unshare --mount --propagation private)
  if [ "$(id -u)" -ne 0 ]; then
    ns=(unshare --user --map-root-user --mount --propagation private)
    sed 's/^avahi:[^:]*:[0-9]*:[0-9]*:/avahi:x:0:0:/' /etc/passwd >"$dir/passwd"
    sed 's/^avahi:[^:]*:[0-9]*:/avahi:x:0:/' /etc/group >"$dir/group"
    # shellcheck disable=SC2016 # $1 and $2 are the inner shell's
    private='mount --bind "$1" /etc/passwd && mount --bind "$2" /etc/group && shift 2 && '$private
    avahi=("$dir/passwd" "$dir/group" "${avahi[@]}")
  fi
  if "${ns[@]}" true 2>/dev/null; then
    "${ns[@]}" sh -c "$private" sh "${avahi[@]}" </dev/null >"$dir/avahi.log" 2>&1 &
  elif [ "$(id -u)" -eq 0 ]; then
    "${avahi[@]}" </dev/null >"$dir/avahi.log" 2>&1 &
  else
    stop "$dir"
    die "avahi-daemon needs root or a user namespace, and this system gives neither"
  fi
  echo $! >"$dir/avahi.pid"
  if wait_ready "$(cat "$dir/avahi.pid")" grep -qs "Server startup complete" "$dir/avahi.log"; then
    return 0
  fi
  local why
  why=$(cat "$dir/avahi.log")
  stop "$dir"
  die "avahi-daemon did not start: $why"
}

printer() {
  local dir=$1 name=$2 port=$3 model=$4 version=$5
  [ -f "$dir/env" ] || die "nothing started in $dir (run start first)"
  case "$name" in
    "" | */* | .*) die "unusable printer name '$name'" ;;
  esac
  # shellcheck disable=SC1091
  export "$(cat "$dir/env")"
  stop_printer "$dir" "$name"
  [ "$port" = 0 ] && port=$(free_port)

  # Attributes may not be given with -m/-M as well; values are quoted strings.
  local attrs="$dir/$name.attrs"
  : >"$attrs"
  [ -n "$model" ] && printf 'ATTR text printer-make-and-model "%s"\n' "${model//\"/}" >>"$attrs"
  [ -n "$version" ] && printf 'ATTR text printer-firmware-string-version "%s"\n' "${version//\"/}" >>"$attrs"
  mkdir -p "$dir/$name.spool"
  ippeveprinter -p "$port" -a "$attrs" -d "$dir/$name.spool" "$name" </dev/null \
    >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  if wait_ready "$(cat "$dir/$name.pid")" answers "$port"; then
    echo "$port" >"$dir/$name.port"
    echo "$port"
    return 0
  fi
  local why
  why=$(cat "$dir/$name.log")
  stop_printer "$dir" "$name"
  die "ippeveprinter $name did not start: $why"
}

[ $# -ge 2 ] || usage
command=$1
shift
case "$command" in
  start) [ $# -eq 1 ] || usage; start "$1" ;;
  stop) [ $# -eq 1 ] || usage; stop "$1" ;;
  printer) [ $# -eq 5 ] || usage; printer "$@" ;;
  stop-printer) [ $# -eq 2 ] || usage; stop_printer "$@" ;;
  requests)
    [ $# -eq 2 ] || usage
    [ -f "$1/$2.log" ] || die "no printer $2 in $1"
    grep -c "Get-Printer-Attributes" "$1/$2.log" || true
    ;;
  *) usage ;;
esac
