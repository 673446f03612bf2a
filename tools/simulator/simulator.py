#!/usr/bin/python3
"""Printer simulator: the printer at the other end of a download.

It offers a raw port (like a socket printer: accepts a connection and reads until the sender
closes it) and an FTP server with the writable directory "ketora0", checks every download it
receives and reports what it saw.

Usage (run with Debian's interpreter, which carries pyftpdlib):

  /usr/bin/python3 tools/simulator/simulator.py [options]

  --dir DIR               working folder, made if missing (default: a new folder in $TMPDIR,
                          kept at exit); received bytes and the report are kept there
  --host ADDR             address to listen on (127.0.0.1)
  --raw-port N            raw port; 0 picks a free one (default 0)
  --ftp-port N            FTP control port; 0 picks a free one (default 0)
  --no-raw, --no-ftp      leave a channel out
  --ftp-dir NAME          the writable directory below the FTP root (ketora0)
  --ftp-user NAME:PASS    a fixed user besides anonymous (both may write into the directory)
  --raw-fault MODE        misbehave on the raw port, for fault tests
  --ftp-fault MODE        misbehave on FTP uploads, for fault tests
                          MODE: refuse    close every connection at once (FTP: reply 421)
                                stall:N   stop reading after N bytes of a download, keep the
                                          connection open
                                drop:N    reset the connection after N bytes of a download
  --report FILE           the report (default DIR/report.json)
  --ipp-command CMD       a command started beside the servers and stopped with them (the
                          printer's IPP identity); it finds the simulator's settings in the
                          environment: FWLOAD_SIM_DIR, FWLOAD_SIM_IPP_MODEL, FWLOAD_SIM_IPP_VERSION
  --ipp-model TEXT        model name handed to the IPP command
  --ipp-version TEXT      firmware version handed to the IPP command
  --exit-on-stdin-eof     stop when standard input reaches its end (the parent has gone)
  --verbose               log the FTP server's sessions on standard error

Once it listens it prints, one per line on standard output, DIR=, REPORT=, RAW_PORT= and
FTP_PORT= (a channel left out is not printed), then READY. It stops on SIGTERM, SIGINT or SIGHUP
(and at the end of standard input with --exit-on-stdin-eof), closing every connection and ending
the IPP command's process group.

Files in DIR: raw/NNNN.bin (each raw download, numbered from 0001), ftp/ (the FTP root, read
only) with ftp/ketora0/ (uploads under the client's file name), report.json.

The report is a JSON array, rewritten whole (atomically) after each event, one object per
received download in the order they ended:

  seq          1, 2, ...
  channel      "raw" or "ftp"
  file         where the bytes are kept, relative to DIR
  name         the uploaded file name (FTP), null for raw
  bytes        count of bytes received
  sha256       of the bytes received (hex), null when the file was removed before the check
  complete     the sender ended the download itself (false: cut by a fault or a broken connection)
  fault        the fault applied to this download ("drop:N", ...), or null
  shape        "plain" (data only), "data+trailer", "wrapped" (prefix, size record, data),
               "wrapped+trailer", or "empty"
  data_length  length of the data block between the wrapper parts
  size_record  the value of the size record's eight digits, null without one
  memory       the trailer's memory byte as 0 or 1, null without a trailer
  errors       list of texts: every way the download differs from a well-formed one
  deleted      the file was removed over FTP (DELE) afterwards
"""

import argparse
import hashlib
import json
import logging
import os
import re
import select
import shlex
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import warnings

PREFIX = bytes.fromhex(
    "1B 01 40 45 4A 4C 0D 0A"
    "40 45 4A 4C 20 53 45 20 4C 41 20 3D 20 45 53 43 2F 50 0D 0A"
    "40 45 4A 4C 20 45 4E 20 4C 41 20 3D 20 45 53 43 2F 50 0D 0A"
    "1B 7A D0 81")
SIZE_RECORD = re.compile(rb"Uf([0-9]{8}),0\*\Z")
TRAILER = re.compile(rb"Ug,1,([01])\*\Z")
HEAD_LENGTH = len(PREFIX) + 13
TRAILER_LENGTH = 7


class Fault:
    """A way to misbehave: refuse, stall after N bytes, or drop after N bytes."""

    def __init__(self, text):
        self.text = text
        self.kind = None
        self.count = 0
        if not text:
            return
        kind, _, count = text.partition(":")
        if kind not in ("refuse", "stall", "drop"):
            raise argparse.ArgumentTypeError("unknown fault %r" % text)
        if kind != "refuse":
            if not count.isdigit():
                raise argparse.ArgumentTypeError("%s needs a byte count: %s:N" % (kind, kind))
            self.count = int(count)
        self.kind = kind

    def limited(self):
        return self.kind in ("stall", "drop")

    def describe(self):
        return self.text or None


def analyse(path):
    """Checks the bytes of one download; returns the report fields that describe them."""
    total = os.path.getsize(path)
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        head = f.read(HEAD_LENGTH)
        f.seek(0)
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            digest.update(block)
        f.seek(max(0, total - TRAILER_LENGTH))
        tail = f.read(TRAILER_LENGTH)
    fields = {"bytes": total, "sha256": digest.hexdigest(), "shape": None, "data_length": None,
              "size_record": None, "memory": None, "errors": []}
    errors = fields["errors"]
    trailer = TRAILER.match(tail) if len(tail) == TRAILER_LENGTH else None
    if total == 0:
        fields.update(shape="empty", data_length=0)
        errors.append("nothing received")
        return fields
    # The command announces itself with ESC 01 and the job-language line.
    if head[:6] == PREFIX[:6]:
        if head[:len(PREFIX)] != PREFIX:
            at = next((i for i in range(min(len(head), len(PREFIX))) if head[i] != PREFIX[i]),
                      min(len(head), len(PREFIX)))
            errors.append("prefix differs from the command at byte %d" % at)
        record = SIZE_RECORD.match(head[len(PREFIX):HEAD_LENGTH])
        trailer_length = TRAILER_LENGTH if trailer else 0
        data_length = max(0, total - HEAD_LENGTH - trailer_length)
        fields.update(shape="wrapped+trailer" if trailer else "wrapped", data_length=data_length)
        if trailer:
            fields["memory"] = int(trailer.group(1))
        if not record:
            errors.append("size record malformed: %r" % head[len(PREFIX):HEAD_LENGTH])
            return fields
        declared = int(record.group(1))
        fields["size_record"] = declared
        after = total - HEAD_LENGTH - declared
        if after == 0:
            fields.update(shape="wrapped", data_length=declared, memory=None)
        elif after == TRAILER_LENGTH and trailer:
            fields.update(data_length=declared)
        else:
            errors.append("size record says %d bytes of data, %d bytes follow it"
                          % (declared, total - HEAD_LENGTH))
        return fields
    if trailer:
        fields.update(shape="data+trailer", data_length=total - TRAILER_LENGTH,
                      memory=int(trailer.group(1)))
    else:
        fields.update(shape="plain", data_length=total)
    return fields


class Report:
    """The report file: every download seen so far, rewritten whole after each change."""

    def __init__(self, path, root):
        self.path = path
        self.root = root
        self.records = []
        self.deleted = set()
        self.lock = threading.Lock()
        self._write()

    def add(self, channel, path, complete, fault, name=None, received=None):
        relative = os.path.relpath(path, self.root)
        record = {"seq": 0, "channel": channel, "file": relative, "name": name}
        try:
            fields = analyse(path)
        except OSError:
            # Removed before it could be checked (the sender cleaned up at once).
            fields = {"bytes": received or 0, "sha256": None, "shape": None,
                      "data_length": None, "size_record": None, "memory": None,
                      "errors": ["removed before it could be checked"]}
        record.update(fields)
        if received is not None and received != record["bytes"]:
            record["errors"].append("%d bytes received, %d kept" % (received, record["bytes"]))
        if not complete:
            record["errors"].insert(0, "connection ended before the download was complete")
        record["complete"] = bool(complete)
        record["fault"] = fault
        with self.lock:
            record["deleted"] = relative in self.deleted
            record["seq"] = len(self.records) + 1
            self.records.append(record)
            self._write()

    def mark_deleted(self, path):
        relative = os.path.relpath(path, self.root)
        with self.lock:
            self.deleted.add(relative)
            for record in self.records:
                if record["file"] == relative:
                    record["deleted"] = True
            self._write()

    def _write(self):
        temporary = self.path + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump(self.records, f, indent=1)
            f.write("\n")
        os.replace(temporary, self.path)


def hard_close(sock):
    """Closes with a reset, as a printer that drops the line does."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


class Simulator:
    def __init__(self, args):
        self.args = args
        self.dir = os.path.abspath(args.dir or tempfile.mkdtemp(prefix="fwload-sim-"))
        self.raw_dir = os.path.join(self.dir, "raw")
        self.ftp_root = os.path.join(self.dir, "ftp")
        self.ftp_dir = os.path.join(self.ftp_root, args.ftp_dir)
        for d in (self.dir, self.raw_dir, self.ftp_root, self.ftp_dir):
            os.makedirs(d, exist_ok=True)
        self.report = Report(os.path.abspath(args.report or os.path.join(self.dir, "report.json")),
                             self.dir)
        self.stopping = threading.Event()
        self.raw_lock = threading.Lock()
        self.raw_count = 0
        self.raw_server = None
        self.raw_thread = None
        self.ftp_server = None
        self.ipp = None

    # --- raw port

    def next_raw_path(self):
        with self.raw_lock:
            self.raw_count += 1
            return os.path.join(self.raw_dir, "%04d.bin" % self.raw_count)

    def start_raw(self):
        sim = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                sim.serve_raw(self.request)

        class Server(socketserver.ThreadingTCPServer):
            # Stopping waits for every connection's record; each handler looks at the stop flag.
            daemon_threads = False
            block_on_close = True
            allow_reuse_address = True

        self.raw_server = Server((self.args.host, self.args.raw_port), Handler)
        self.raw_thread = threading.Thread(target=self.raw_server.serve_forever,
                                           kwargs={"poll_interval": 0.1}, daemon=True)
        self.raw_thread.start()
        return self.raw_server.server_address[1]

    def serve_raw(self, conn):
        fault = Fault(self.args.raw_fault)
        if fault.kind == "refuse":
            hard_close(conn)
            return
        path = self.next_raw_path()
        received = 0
        complete = True
        cut = False
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        poller = select.poll()
        poller.register(conn, select.POLLIN | select.POLLRDHUP | select.POLLERR | select.POLLHUP)
        with open(path, "wb") as out:
            while True:
                want = len(buffer)
                if fault.limited():
                    left = fault.count - received
                    if left <= 0:
                        complete = False
                        cut = True
                        if fault.kind == "stall":
                            self.wait_until_gone(conn)
                        break
                    want = min(want, left)
                # Looks up now and then, so that a sender who never closes cannot hold the stop.
                if self.stopping.is_set():
                    complete = False
                    break
                if not poller.poll(100):
                    continue
                try:
                    n = conn.recv_into(view[:want])
                except OSError:
                    complete = False
                    break
                if n == 0:
                    break
                out.write(view[:n])
                received += n
        if cut and fault.kind == "drop":
            hard_close(conn)
        else:
            conn.close()
        self.report.add("raw", path, complete, fault.describe() if cut else None,
                        received=received)

    def wait_until_gone(self, conn):
        """Stalls: reads nothing more until the sender gives up or the simulator stops."""
        poller = select.poll()
        poller.register(conn, select.POLLRDHUP | select.POLLERR | select.POLLHUP)
        while not self.stopping.is_set():
            if poller.poll(100):
                return

    # --- FTP

    def start_ftp(self):
        warnings.simplefilter("ignore")  # write permissions for anonymous are intended here
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import DTPHandler, FTPHandler
        from pyftpdlib.servers import FTPServer

        sim = self
        fault = Fault(self.args.ftp_fault)
        write = "elradfmwMT"
        authorizer = DummyAuthorizer()
        authorizer.add_anonymous(self.ftp_root, perm="elr")
        authorizer.override_perm("anonymous", self.ftp_dir, perm=write, recursive=True)
        if self.args.ftp_user:
            name, _, password = self.args.ftp_user.partition(":")
            authorizer.add_user(name, password, self.ftp_root, perm="elr")
            authorizer.override_perm(name, self.ftp_dir, perm=write, recursive=True)

        class SimDTPHandler(DTPHandler):
            ac_in_buffer_size = 256 * 1024

            def handle_read(self):
                if self.receive and fault.limited():
                    left = fault.count - self.tot_bytes_received
                    if left <= 0:
                        self.cmd_channel.sim_cut = True
                        if fault.kind == "drop":
                            self.cmd_channel.sim_received = self.tot_bytes_received
                            try:
                                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                                       struct.pack("ii", 1, 0))
                                self.cmd_channel.socket.setsockopt(
                                    socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                            except OSError:
                                pass
                            self.close()
                            self.cmd_channel.close()
                        else:
                            # Nothing more is read; the sender's buffers fill and it blocks.
                            self.modify_ioloop_events(0)
                        return
                    self.ac_in_buffer_size = min(SimDTPHandler.ac_in_buffer_size, left)
                DTPHandler.handle_read(self)

            # The base class binds its own reader to the event under a second name.
            handle_read_event = handle_read

            def close(self):
                if not self._closed and self.receive:
                    self.cmd_channel.sim_received = self.tot_bytes_received
                DTPHandler.close(self)

        class SimFTPHandler(FTPHandler):
            dtp_handler = SimDTPHandler
            banner = "printer simulator ready"
            sim_cut = False
            sim_received = None

            def handle(self):
                if fault.kind == "refuse":
                    self.respond("421 Service not available.")
                    self.close_when_done()
                    return
                FTPHandler.handle(self)

            def ftp_STOR(self, file, mode="w"):
                self.sim_cut = False
                self.sim_received = None
                return FTPHandler.ftp_STOR(self, file, mode)

            def record(self, file, complete):
                complete = complete and not self.sim_cut
                sim.report.add("ftp", file, complete, fault.describe() if self.sim_cut else None,
                               name=os.path.basename(file), received=self.sim_received)

            def on_file_received(self, file):
                self.record(file, True)

            def on_incomplete_file_received(self, file):
                # Kept as a printer would keep it: removing it is the sender's duty.
                self.record(file, False)

            def ftp_DELE(self, path):
                removed = FTPHandler.ftp_DELE(self, path)
                if removed:
                    sim.report.mark_deleted(removed)
                return removed

        SimFTPHandler.authorizer = authorizer
        self.ftp_server = FTPServer((self.args.host, self.args.ftp_port), SimFTPHandler)
        return self.ftp_server.address[1]

    # --- IPP identity

    def start_ipp(self):
        if not self.args.ipp_command:
            return
        env = dict(os.environ)
        env["FWLOAD_SIM_DIR"] = self.dir
        env["FWLOAD_SIM_IPP_MODEL"] = self.args.ipp_model or ""
        env["FWLOAD_SIM_IPP_VERSION"] = self.args.ipp_version or ""
        self.ipp = subprocess.Popen(shlex.split(self.args.ipp_command), env=env,
                                    stdin=subprocess.DEVNULL, stdout=sys.stderr,
                                    start_new_session=True)

    def stop_ipp(self):
        if self.ipp is None or self.ipp.poll() is not None:
            return
        try:
            os.killpg(self.ipp.pid, signal.SIGTERM)
            self.ipp.wait(timeout=5)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            try:
                os.killpg(self.ipp.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.ipp.wait()

    # --- life

    def run(self):
        # A stop request may come as soon as anything has started, even while READY is written
        # (the parent stops it the moment it has read READY): the stop undoes what there is.
        try:
            lines = ["DIR=%s" % self.dir, "REPORT=%s" % self.report.path]
            if not self.args.no_raw:
                lines.append("RAW_PORT=%d" % self.start_raw())
            if not self.args.no_ftp:
                lines.append("FTP_PORT=%d" % self.start_ftp())
            self.start_ipp()
            if self.ipp is not None:
                lines.append("IPP_PID=%d" % self.ipp.pid)
            print("\n".join(lines + ["READY"]), flush=True)
            if self.ftp_server is not None:
                self.ftp_server.serve_forever(timeout=0.2, blocking=True, handle_exit=False)
            else:
                while not self.stopping.wait(0.2):
                    pass
        except (KeyboardInterrupt, SystemExit):
            pass
        finally:
            self.stop()

    def stop(self):
        self.stopping.set()
        if self.ftp_server is not None:
            self.ftp_server.close_all()
        if self.raw_server is not None:
            # shutdown() waits for serve_forever, which a thread never started would not run.
            if self.raw_thread is not None and self.raw_thread.ident is not None:
                self.raw_server.shutdown()
            self.raw_server.server_close()
        self.stop_ipp()


def main():
    parser = argparse.ArgumentParser(usage=argparse.SUPPRESS, description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     add_help=True)
    parser.add_argument("--dir")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--raw-port", type=int, default=0)
    parser.add_argument("--ftp-port", type=int, default=0)
    parser.add_argument("--no-raw", action="store_true")
    parser.add_argument("--no-ftp", action="store_true")
    parser.add_argument("--ftp-dir", default="ketora0")
    parser.add_argument("--ftp-user")
    parser.add_argument("--raw-fault", default="")
    parser.add_argument("--ftp-fault", default="")
    parser.add_argument("--report")
    parser.add_argument("--ipp-command")
    parser.add_argument("--ipp-model")
    parser.add_argument("--ipp-version")
    parser.add_argument("--exit-on-stdin-eof", action="store_true")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    for text in (args.raw_fault, args.ftp_fault):
        try:
            Fault(text)
        except argparse.ArgumentTypeError as error:
            parser.error(str(error))
    if "/" in args.ftp_dir or args.ftp_dir in ("", ".", ".."):
        parser.error("--ftp-dir takes one directory name")

    logging.basicConfig(level=logging.INFO if args.verbose else logging.WARNING,
                        format="simulator: %(message)s", stream=sys.stderr)

    stop_requested = []

    def interrupt(signum, frame):
        # The first request stops; later ones must not break into the orderly stop.
        if not stop_requested:
            stop_requested.append(signum)
            raise KeyboardInterrupt

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, interrupt)

    if args.exit_on_stdin_eof:
        def watch_stdin():
            try:
                while os.read(sys.stdin.fileno(), 4096):
                    pass
            except OSError:
                pass
            os.kill(os.getpid(), signal.SIGTERM)

        threading.Thread(target=watch_stdin, daemon=True).start()

    Simulator(args).run()


if __name__ == "__main__":
    main()
