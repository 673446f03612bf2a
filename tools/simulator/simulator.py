#!/usr/bin/python3
"""Printer simulator: the printer at the other end of a download.

It offers a raw port (like a socket printer: accepts a connection and reads until the sender
closes it), an FTP server with the writable directory "ketora0" and an IPP identity (the printer's
model and firmware version, as Get-Printer-Attributes answers them), checks every download it
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

  The IPP identity: an HTTP server on its own port that answers Get-Printer-Attributes (IPP/1.1
  and 2.0, any path; /ipp/print is the usual one) with printer-make-and-model and
  printer-firmware-string-version besides the attributes every printer reports. No root, no
  D-Bus, no DNS-SD: this is the way to give a simulated printer an identity.
  --ipp-port N            its port; 0 picks a free one (default 0)
  --no-ipp                leave the identity out
  --model TEXT            the model it reports; without it the printer answers without a model
  --version TEXT          the firmware version it reports; without it, none
  --apply-version V       after a complete, well-formed download (raw or FTP) the printer runs
                          V: it reports V from then on (once back from --restart-seconds).
                          Without it the version never changes (the printer kept its firmware)
  --restart-seconds S     after such a download the IPP port is closed for S seconds
                          (connections are refused, as by a restarting printer), then it
                          answers again on the same port (default 0: no restart)
  --ipp-fault MODE        misbehave on the IPP port, for fault tests
                          MODE: garbage   answer HTTP 200 with bytes that are not IPP
                                silent    take each request and never answer
                                down      close the port after the first complete, well-formed
                                          download and never open it again
  --ipp-command CMD       an outside identity instead (kept for older setups): a command started
                          beside the servers and stopped with them; it finds the simulator's
                          settings in the environment: FWLOAD_SIM_DIR, FWLOAD_SIM_IPP_MODEL,
                          FWLOAD_SIM_IPP_VERSION
  --ipp-model TEXT        model name handed to the IPP command (default: --model)
  --ipp-version TEXT      firmware version handed to the IPP command (default: --version)
  --exit-on-stdin-eof     stop when standard input reaches its end (the parent has gone)
  --verbose               log the FTP server's sessions and the IPP requests on standard error

Once it listens it prints, one per line on standard output, DIR=, REPORT=, RAW_PORT=, FTP_PORT=,
IPP_PORT= (a channel left out is not printed) and IPP_PID= (with --ipp-command), then READY. It
stops on SIGTERM, SIGINT or SIGHUP (and at the end of standard input with --exit-on-stdin-eof),
closing every connection and ending the IPP command's process group.

Files in DIR: raw/NNNN.bin (each raw download, numbered from 0001), ftp/ (the FTP root, read
only) with ftp/ketora0/ (uploads under the client's file name), report.json, ipp.log (one line
per IPP request taken: "Get-Printer-Attributes successful-ok version=V1.23", "garbage ...",
"silent ...", "request client-error-...").

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
  version_after  the firmware version the IPP identity reports once this download has taken
               effect (after the restart), null when it no longer answers or is left out
"""

import argparse
import hashlib
import http.server
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
import time
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
        # Told of each download before it is reported (the IPP identity restarts); returns the
        # version the printer reports afterwards.
        self.on_download = None
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
        record["version_after"] = (self.on_download(complete and not record["errors"])
                                   if self.on_download else None)
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


# --- IPP identity: the printer's answer to Get-Printer-Attributes, over HTTP on its own port

GET_PRINTER_ATTRIBUTES = 0x000B
STATUS_OK = 0x0000
STATUS_BAD_REQUEST = 0x0400
STATUS_OPERATION_NOT_SUPPORTED = 0x0501
STATUS_VERSION_NOT_SUPPORTED = 0x0503
STATUS_NAMES = {STATUS_OK: "successful-ok", STATUS_BAD_REQUEST: "client-error-bad-request",
                STATUS_OPERATION_NOT_SUPPORTED: "server-error-operation-not-supported",
                STATUS_VERSION_NOT_SUPPORTED: "server-error-version-not-supported"}

TAG_OPERATION = 0x01
TAG_END = 0x03
TAG_PRINTER = 0x04
TAG_INTEGER = 0x21
TAG_BOOLEAN = 0x22
TAG_ENUM = 0x23
TAG_OCTET_STRING = 0x30
TAG_TEXT = 0x41
TAG_NAME = 0x42
TAG_KEYWORD = 0x44
TAG_URI = 0x45
TAG_CHARSET = 0x47
TAG_LANGUAGE = 0x48
TAG_MIME = 0x49

PRINTER_STATE_IDLE = 3
IPP_BODY_LIMIT = 1 << 20
# What a printer with a broken web server might send: plain text, no IPP header or tags.
IPP_GARBAGE = b"<html><body>Printer status: OK</body></html>\r\n" * 4
IPP_FAULTS = ("garbage", "silent", "down")


class IppError(Exception):
    pass


def parse_ipp(body):
    """Decodes an IPP message: (major, minor, operation, request id, groups), where groups is
    a list of (group tag, [(name, [(value tag, value bytes), ...]), ...])."""
    if len(body) < 9:
        raise IppError("message shorter than its header")
    major, minor, operation, request_id = struct.unpack_from(">BBHI", body, 0)
    pos = 8
    groups = []
    group = None

    def take(count):
        nonlocal pos
        if pos + count > len(body):
            raise IppError("message ends inside an attribute")
        part = body[pos:pos + count]
        pos += count
        return part

    while True:
        tag = take(1)[0]
        if tag == TAG_END:
            break
        if tag < 0x10:
            if tag == 0:
                raise IppError("delimiter tag 0")
            group = (tag, [])
            groups.append(group)
            continue
        if group is None or tag == 0x7F:
            raise IppError("value tag 0x%02x outside a group" % tag)
        name = take(struct.unpack(">H", take(2))[0])
        value = take(struct.unpack(">H", take(2))[0])
        if name:
            group[1].append((name.decode("utf-8", "replace"), [(tag, value)]))
        elif group[1]:
            group[1][-1][1].append((tag, value))
        else:
            raise IppError("additional value without an attribute")
    return major, minor, operation, request_id, groups


def ipp_attribute(tag, name, values):
    out = bytearray()
    for i, value in enumerate(values):
        if isinstance(value, bool):
            value = b"\x01" if value else b"\x00"
        elif isinstance(value, int):
            value = struct.pack(">i", value)
        elif isinstance(value, str):
            value = value.encode("utf-8")
        key = name.encode("ascii") if i == 0 else b""
        out += struct.pack(">BH", tag, len(key)) + key + struct.pack(">H", len(value)) + value
    return bytes(out)


class IppIdentity:
    """The printer's IPP identity: model and firmware version, a restart after each download it
    accepts, and the faults of --ipp-fault.

    While the printer restarts its port is closed (connections are refused), as on a printer
    whose network stack is down; afterwards it listens on the same port again."""

    def __init__(self, args, log_path):
        self.host = args.host
        self.port = args.ipp_port
        self.model = args.model or None
        self.version = args.version or None
        self.apply_version = args.apply_version
        self.restart_seconds = args.restart_seconds
        self.fault = args.ipp_fault or None
        self.verbose = args.verbose
        self.log_path = log_path
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.listener = None
        self.connections = set()
        self.gone = False           # --ipp-fault down after a download: never back
        self.back_at = None         # restarting until this time (monotonic)
        self.next_version = None    # what it reports once back
        self.up_since = time.monotonic()
        self.bind_failed = False
        self.thread = None

    # The listening socket is made and closed only by the serving thread; others shut it down,
    # which refuses new connections at once and wakes the thread.

    def start(self):
        self.listener = self._bind()
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()
        return self.port

    def stop(self):
        self.stopping.set()
        with self.lock:
            self._shut_locked()
        if self.thread is not None:
            self.thread.join(timeout=5)

    def _bind(self):
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        listener = socket.socket(family, socket.SOCK_STREAM)
        try:
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind((self.host, self.port))
            listener.listen(16)
        except OSError:
            listener.close()
            raise
        return listener

    def _shut_locked(self):
        for sock in [self.listener] + list(self.connections):
            if sock is None:
                continue
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _down_locked(self):
        return self.gone or self.stopping.is_set() or (
            self.back_at is not None and time.monotonic() < self.back_at)

    def after_download(self, well_formed):
        """Called once a download has ended, before it is reported. Returns the version the
        printer reports from now on (after its restart), None when it will not answer."""
        with self.lock:
            if well_formed:
                if self.fault == "down":
                    self.gone = True
                elif self.restart_seconds > 0:
                    self.back_at = time.monotonic() + self.restart_seconds
                    if self.apply_version is not None:
                        self.next_version = self.apply_version
                elif self.apply_version is not None:
                    self.version = self.apply_version
                if self._down_locked():
                    self._shut_locked()
            if self.gone:
                return None
            return self.next_version or self.version

    def _update_locked(self):
        """Closes a shut port, and opens it again once a restart is over."""
        down = self._down_locked()
        if down and self.listener is not None:
            self.listener.close()
            self.listener = None
        if down or self.listener is not None:
            return
        if self.next_version is not None:
            self.version, self.next_version = self.next_version, None
        try:
            self.listener = self._bind()
        except OSError as error:
            if not self.bind_failed:
                logging.warning("IPP port %d cannot be opened again: %s", self.port, error)
            self.bind_failed = True
            return
        self.bind_failed = False
        self.back_at = None
        self.up_since = time.monotonic()

    def _serve(self):
        while True:
            with self.lock:
                self._update_locked()
                listener = self.listener
                if self.stopping.is_set():
                    return
            if listener is None:
                self.stopping.wait(0.05)
                continue
            try:
                ready, _, _ = select.select([listener], [], [], 0.1)
                if not ready:
                    continue
                conn, address = listener.accept()
            except OSError:
                continue  # shut down for a restart or the stop: the next round closes it
            with self.lock:
                if self._down_locked():
                    # Taken just before the port closed: it goes down with the printer.
                    hard_close(conn)
                    continue
                self.connections.add(conn)
            threading.Thread(target=self._serve_connection, args=(conn, address),
                             daemon=True).start()

    def _serve_connection(self, conn, address):
        try:
            if self.fault == "silent":
                self._hold(conn)
            else:
                IppHandler(conn, address, self)
        except OSError:
            pass
        finally:
            with self.lock:
                self.connections.discard(conn)
            conn.close()

    def _hold(self, conn):
        """Takes the request and never answers, until the client gives up."""
        logged = False
        while not self.stopping.is_set():
            ready, _, _ = select.select([conn], [], [], 0.1)
            if not ready:
                continue
            if not conn.recv(65536):
                return
            if not logged:
                self.log("silent", "no answer")
                logged = True

    def log(self, operation, outcome):
        line = "%s %s\n" % (operation, outcome)
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(line)

    def answer(self, body, host, path):
        """The IPP response to one request's body."""
        try:
            major, minor, operation, request_id, groups = parse_ipp(body)
        except IppError as error:
            return self._response(1, 1, STATUS_BAD_REQUEST, 0, str(error))
        if major not in (1, 2):
            return self._response(1, 1, STATUS_VERSION_NOT_SUPPORTED, request_id)
        operation_attributes = dict(groups[0][1]) if groups and groups[0][0] == TAG_OPERATION \
            else {}
        names = list(operation_attributes)
        if names[:2] != ["attributes-charset", "attributes-natural-language"]:
            return self._response(major, minor, STATUS_BAD_REQUEST, request_id,
                                  "attributes-charset and attributes-natural-language must "
                                  "come first")
        if operation != GET_PRINTER_ATTRIBUTES:
            return self._response(major, minor, STATUS_OPERATION_NOT_SUPPORTED, request_id)
        if "printer-uri" not in operation_attributes:
            return self._response(major, minor, STATUS_BAD_REQUEST, request_id,
                                  "printer-uri is missing")
        requested = operation_attributes.get("requested-attributes")
        wanted = None
        if requested is not None:
            wanted = {value.decode("utf-8", "replace") for _, value in requested}
            if wanted & {"all", "printer-description"}:
                wanted = None
        with self.lock:
            version = self.version
            up = max(1, int(time.monotonic() - self.up_since))
        attributes = [
            (TAG_URI, "printer-uri-supported", ["ipp://%s%s" % (host, path)]),
            (TAG_KEYWORD, "uri-security-supported", ["none"]),
            (TAG_KEYWORD, "uri-authentication-supported", ["none"]),
            (TAG_NAME, "printer-name", ["simulated-printer"]),
            (TAG_TEXT, "printer-info", ["Printer simulator"]),
            (TAG_TEXT, "printer-location", [""]),
            (TAG_URI, "printer-more-info", ["http://%s/" % host]),
            (TAG_ENUM, "printer-state", [PRINTER_STATE_IDLE]),
            (TAG_KEYWORD, "printer-state-reasons", ["none"]),
            (TAG_BOOLEAN, "printer-is-accepting-jobs", [True]),
            (TAG_INTEGER, "printer-up-time", [up]),
            (TAG_INTEGER, "queued-job-count", [0]),
            (TAG_KEYWORD, "ipp-versions-supported", ["1.1", "2.0"]),
            (TAG_ENUM, "operations-supported", [GET_PRINTER_ATTRIBUTES]),
            (TAG_CHARSET, "charset-configured", ["utf-8"]),
            (TAG_CHARSET, "charset-supported", ["utf-8"]),
            (TAG_LANGUAGE, "natural-language-configured", ["en"]),
            (TAG_LANGUAGE, "generated-natural-language-supported", ["en"]),
            (TAG_MIME, "document-format-default", ["application/octet-stream"]),
            (TAG_MIME, "document-format-supported", ["application/octet-stream"]),
            (TAG_KEYWORD, "compression-supported", ["none"]),
            (TAG_KEYWORD, "pdl-override-supported", ["not-attempted"]),
        ]
        if self.model:
            attributes.append((TAG_TEXT, "printer-make-and-model", [self.model]))
        if version:
            # The three firmware attributes run in parallel, one value per firmware part.
            attributes += [(TAG_NAME, "printer-firmware-name", ["firmware"]),
                           (TAG_TEXT, "printer-firmware-string-version", [version]),
                           (TAG_OCTET_STRING, "printer-firmware-version", [version])]
        printer = b"".join(ipp_attribute(tag, name, values) for tag, name, values in attributes
                           if wanted is None or name in wanted)
        self.log("Get-Printer-Attributes", "%s version=%s" % (STATUS_NAMES[STATUS_OK], version))
        return self._response(major, minor, STATUS_OK, request_id, printer=printer)

    def _response(self, major, minor, status, request_id, message=None, printer=None):
        if status != STATUS_OK:
            self.log("request", STATUS_NAMES[status] + (": " + message if message else ""))
        out = struct.pack(">BBHI", major, minor, status, request_id) + bytes([TAG_OPERATION])
        out += ipp_attribute(TAG_CHARSET, "attributes-charset", ["utf-8"])
        out += ipp_attribute(TAG_LANGUAGE, "attributes-natural-language", ["en"])
        if message:
            out += ipp_attribute(TAG_TEXT, "status-message", [message[:255]])
        if printer is not None:
            out += bytes([TAG_PRINTER]) + printer
        return out + bytes([TAG_END])


class IppHandler(http.server.BaseHTTPRequestHandler):
    """HTTP/1.1 with keep-alive and "Expect: 100-continue", as IPP clients use it."""
    protocol_version = "HTTP/1.1"
    server_version = "PrinterSimulator/1.0"
    timeout = 30

    def log_message(self, format, *args):
        if self.server.verbose:
            logging.info("IPP %s", format % args)

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline(100).split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline(1000).strip():
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline(10)
                if len(body) > IPP_BODY_LIMIT:
                    return None
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if 0 <= length <= IPP_BODY_LIMIT else None

    def do_POST(self):
        try:
            body = self.read_body()
            refusal = 413 if body is None else None
        except ValueError:
            refusal = 400
        if refusal:
            self.close_connection = True
            self.send_error(refusal)
            return
        identity = self.server
        if identity.fault == "garbage":
            identity.log("garbage", "answered with bytes that are not IPP")
            answer = IPP_GARBAGE
        else:
            host = self.headers.get("Host") or "%s:%d" % (identity.host, identity.port)
            answer = identity.answer(body, host, self.path.split("?")[0])
        self.send_response(200)
        self.send_header("Content-Type", "application/ipp")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def do_GET(self):
        self.send_error(404, explain="this printer answers IPP (POST) only")


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
        self.identity = None

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
        model = self.args.ipp_model if self.args.ipp_model is not None else self.args.model
        version = self.args.ipp_version if self.args.ipp_version is not None else self.args.version
        env["FWLOAD_SIM_IPP_MODEL"] = model or ""
        env["FWLOAD_SIM_IPP_VERSION"] = version or ""
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
            ipp_port = None
            if not self.args.no_ipp:
                # First, so that no download can arrive before the identity hears of it.
                self.identity = IppIdentity(self.args, os.path.join(self.dir, "ipp.log"))
                ipp_port = self.identity.start()
                self.report.on_download = self.identity.after_download
            if not self.args.no_raw:
                lines.append("RAW_PORT=%d" % self.start_raw())
            if not self.args.no_ftp:
                lines.append("FTP_PORT=%d" % self.start_ftp())
            if ipp_port is not None:
                lines.append("IPP_PORT=%d" % ipp_port)
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
        if self.identity is not None:
            self.identity.stop()
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
    parser.add_argument("--no-ipp", action="store_true")
    parser.add_argument("--ipp-port", type=int, default=0)
    parser.add_argument("--model")
    parser.add_argument("--version")
    parser.add_argument("--apply-version")
    parser.add_argument("--restart-seconds", type=float, default=0.0)
    parser.add_argument("--ipp-fault", choices=IPP_FAULTS)
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
    if args.restart_seconds < 0:
        parser.error("--restart-seconds takes a count of seconds, 0 or more")
    if args.no_ipp and (args.apply_version is not None or args.restart_seconds or args.ipp_fault
                        or args.ipp_port):
        parser.error("--no-ipp leaves out the IPP identity that the IPP options describe")

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
