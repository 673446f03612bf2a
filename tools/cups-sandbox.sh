#!/usr/bin/env bash
# A private CUPS server for tests, benchmarks and the demo: never the machine's own.
#
#   cups-sandbox.sh start DIR
#       Starts cupsd on a free loopback port. Its tree, local socket included, lives in a fresh
#       short folder /tmp/fwl.XXXXXX that the user lp can reach: a socket's path may not be
#       longer than about 100 bytes, and libcups does not reach a server through a long one even
#       when it is a link. DIR (created if needed, anywhere) is the handle the other commands take.
#       Prints the value for CUPS_SERVER (the socket ROOT/cups.sock) and writes:
#         DIR/socket     that value
#         DIR/server     127.0.0.1:PORT, the same server over TCP
#         DIR/root       the server's tree ROOT (logs in ROOT/log: access_log counts requests)
#         DIR/pid        the server's process
#       A server that DIR still holds from an earlier run is stopped first.
#   cups-sandbox.sh add-queue DIR NAME DEVICE-URI [MODEL [INFO [LOCATION]]]
#       Adds an enabled queue with the error policy abort-job. MODEL becomes the queue's
#       printer-make-and-model through a small PPD whose *NickName it is; "-" or no MODEL makes a
#       raw queue ("Local Raw Printer"); an empty MODEL a queue that reports an empty one.
#       INFO (the comment) may hold line breaks.
#       For a printer on a socket use socket://127.0.0.1:PORT/?snmp=false (the slash matters).
#   cups-sandbox.sh add-class DIR NAME MEMBER...
#       Adds a class of the given queues, in that order.
#   cups-sandbox.sh remove DIR NAME
#       Deletes a queue or class.
#   cups-sandbox.sh server DIR
#       Prints 127.0.0.1:PORT.
#   cups-sandbox.sh socket DIR
#       Prints the value for CUPS_SERVER.
#   cups-sandbox.sh stop DIR
#       Stops the server and removes its tree. Quiet when nothing runs.
#
# Runs as root (cupsd then works as lp) or as any other user (cupsd then works as that user).
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

answers() {
  lpstat -h "127.0.0.1:$1" -r >/dev/null 2>&1
}

server_of() {
  [ -f "$1/server" ] || die "no server in $1 (run start first)"
  cat "$1/server"
}

stop() {
  local dir=$1 root
  [ -d "$dir" ] || return 0
  # The pid is kept in DIR: the server is stopped even when its tree below /tmp has gone.
  if [ -f "$dir/pid" ]; then
    end_process "$(cat "$dir/pid")"
  fi
  if [ -f "$dir/root" ]; then
    root=$(cat "$dir/root")
    case "$root" in
      /tmp/fwl.*) rm -rf "$root" ;;
    esac
  fi
  rm -f "$dir/pid" "$dir/root" "$dir/server" "$dir/socket"
}

start() {
  local dir=$1
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  stop "$dir"

  local root port user group serverbin=/usr/lib/cups
  root=$(mktemp -d /tmp/fwl.XXXXXX)
  # The backends run as lp and must reach the job files below the tree.
  chmod 0755 "$root"
  mkdir -p "$root/spool/tmp" "$root/cache" "$root/state" "$root/log" "$root/ppd"
  chmod 0755 "$root/spool" "$root/cache" "$root/state" "$root/log"
  if [ "$(id -u)" -eq 0 ]; then
    user=lp
    group=lp
    # Every folder above the tree must let lp through.
    local up
    up=$(dirname "$root")
    while :; do
      if (( (8#$(stat -c %a "$up") & 1) == 0 )); then
        stop "$dir"
        rm -rf "$root"
        die "lp cannot pass through $up"
      fi
      [ "$up" = / ] && break
      up=$(dirname "$up")
    done
  else
    user=$(id -un)
    group=$(id -gn)
    # cupsd that is not root refuses the schemes whose backends only root may run (lpd, usb,
    # serial): it gets programs of its own, with copies of those that its user may run.
    serverbin="$root/bin"
    mkdir "$serverbin" "$serverbin/backend"
    local f
    for f in /usr/lib/cups/*; do
      [ "$(basename "$f")" = backend ] || ln -s "$f" "$serverbin/"
    done
    for f in /usr/lib/cups/backend/*; do
      if (( (8#$(stat -L -c %a "$f") & 1) == 0 )); then
        cp -L "$f" "$serverbin/backend/" 2>/dev/null && chmod 0755 "$serverbin/backend/${f##*/}"
      else
        ln -s "$f" "$serverbin/backend/"
      fi
    done
  fi
  # cupsd wants its admin group apart from the group it works as.
  local sysgroup=root
  [ "$group" = root ] && sysgroup=sys
  port=$(free_port)

  cat >"$root/cups-files.conf" <<EOF
ServerRoot $root
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
Printcap $root/printcap
ServerBin $serverbin
DataDir /usr/share/cups
User $user
Group $group
SystemGroup $sysgroup
FileDevice Yes
Sandboxing Relaxed
EOF
  cat >"$root/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
Listen $root/cups.sock
LogLevel warn
AccessLogLevel all
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
PreserveJobHistory Yes
MaxJobs 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOF
  if ! cupsd -t -c "$root/cupsd.conf" -s "$root/cups-files.conf" >"$root/check.log" 2>&1; then
    local why
    why=$(grep -v '^No .* defined in policy' "$root/check.log" || true)
    rm -rf "$root"
    die "cupsd refuses its configuration: $why"
  fi

  # Started in the foreground of a background job, so its pid is ours to stop.
  cupsd -f -c "$root/cupsd.conf" -s "$root/cups-files.conf" </dev/null >"$root/log/cupsd.out" 2>&1 &
  echo $! >"$dir/pid"
  echo "$root" >"$dir/root"
  echo "127.0.0.1:$port" >"$dir/server"
  echo "$root/cups.sock" >"$dir/socket"

  if wait_ready "$(cat "$dir/pid")" answers "$port"; then
    cat "$dir/socket"
    return 0
  fi
  cat "$root/log/cupsd.out" "$root/log/error_log" >&2 2>/dev/null || true
  stop "$dir"
  die "cupsd did not start"
}

write_ppd() {
  local file=$1 model=$2
  cat >"$file" <<EOF
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "FWTEST.PPD"
*Manufacturer: "Test"
*Product: "(Test)"
*ModelName: "$model"
*ShortNickName: "$model"
*NickName: "$model"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*OpenUI *PageSize: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
EOF
}

add_queue() {
  local dir=$1 name=$2 uri=$3 model=${4--} info=${5:-} location=${6:-}
  local server root
  server=$(server_of "$dir")
  root=$(cat "$dir/root")
  local args=(-h "$server" -p "$name" -E -v "$uri" -o printer-error-policy=abort-job)
  if [ "$model" = "-" ]; then
    args+=(-m raw)
  else
    local ppd
    ppd=$(mktemp "$root/ppd/queue.XXXXXX")
    write_ppd "$ppd" "$model"
    args+=(-P "$ppd")
  fi
  [ -n "$info" ] && args+=(-D "$info")
  [ -n "$location" ] && args+=(-L "$location")
  # lpadmin warns that drivers are deprecated; the queue is made all the same.
  lpadmin "${args[@]}" 2>"$root/lpadmin.err" || die "lpadmin: $(cat "$root/lpadmin.err")"
}

add_class() {
  local dir=$1 name=$2
  shift 2
  local server member
  server=$(server_of "$dir")
  for member in "$@"; do
    lpadmin -h "$server" -p "$member" -c "$name" 2>/dev/null
  done
  cupsenable -h "$server" "$name"
  cupsaccept -h "$server" "$name"
}

[ $# -ge 2 ] || usage
command=$1
shift
case "$command" in
  start) [ $# -eq 1 ] || usage; start "$1" ;;
  stop) [ $# -eq 1 ] || usage; stop "$1" ;;
  server) [ $# -eq 1 ] || usage; server_of "$1" ;;
  socket)
    [ $# -eq 1 ] || usage
    [ -f "$1/socket" ] || die "no server in $1 (run start first)"
    cat "$1/socket"
    ;;
  add-queue) [ $# -ge 3 ] && [ $# -le 6 ] || usage; add_queue "$@" ;;
  add-class) [ $# -ge 3 ] || usage; add_class "$@" ;;
  remove)
    [ $# -eq 2 ] || usage
    lpadmin -h "$(server_of "$1")" -x "$2"
    ;;
  *) usage ;;
esac
