#!/usr/bin/python3
"""A scriptable update server for tests (Python standard library only).

Serves the files of --root below "/updater/" on 127.0.0.1, on a port the system picks
and publishes in --port-file. Answers as a static server with ranges does: 200 with
Content-Length; 206 with "bytes start-end/total"; 416 with "bytes */total"; If-Range
honoured (a strong ETag or the exact Last-Modified text, otherwise the whole file).

It also acts as a forward proxy for absolute-URI requests ("GET http://host/updater/x"),
serving them from the same folder (or from --vhost HOST=DIR), so that the program's
built-in https:// base URLs reach it through a proxy settings file that forces plain
HTTP. The request log names the host that was asked. With --tunnel PORT_FILE it also
opens CONNECT tunnels to "*.velto.example:443", to 127.0.0.1 on the port that file names
(the TLS server), as an office proxy does for HTTPS; other CONNECT targets get 405.

Per-file fault switches live in a sidecar file NAME.fault beside the served file, one
switch per line ("key" or "key=value", "#" starts a comment), read at every request:
  close-after=N          send N body bytes, then close the connection
  reset-after=N          send N body bytes, then reset the connection (RST)
  ignore-range           answer every request 200 with the whole file
  chunked                chunked body without Content-Length
  no-length              no Content-Length; the body ends when the connection closes
  redirect=301|302       redirect to /moved/NAME
  status=CODE            answer CODE with a short body (500, 404, 403, ...)
  unsatisfiable=none|T   answer every Range request 416, without Content-Range or with
                         "bytes */T"
  start-beyond=K         a 206 that starts K bytes after the requested offset (before
                         it when K is negative)
  partial-without-range  a 206 without Content-Range
  range-total=TEXT       a 206 whose Content-Range total reads TEXT ("*", "0", "x1")
  content-range=TEXT     Content-Range: TEXT on a 200 or 206 instead of the true one
  length=TEXT            Content-Length: TEXT instead of the true one (the body stays)
  ignore-if-range        answer a Range request 206 even when If-Range names another
                         version of the file (as some servers and proxies do)
  no-answer              close the connection before any status line
  replace-with=OTHER     once the answer has ended, the served file becomes a copy of
                         OTHER (a file beside it): a new version under the same name
A line "---" splits the sidecar file into sections: each request takes the first one
(and the file keeps the rest, or is deleted with the last), so that one fetch meets a
schedule of faults, one per try.
  trickle=BYTES:MS       send the body in pieces of BYTES, pausing MS before each
  stall=N:MS             after N body bytes, pause MS (several lines allowed)
  hold=N                 after N body bytes, wait while NAME.hold exists beside the file
                         (at most a minute): a test lets the rest go once it has seen
                         what it waits for, instead of guessing a pause
  times=K                the switches hold for the next K requests of the file; then
                         the sidecar file is deleted
Sidecar files (.fault, .hold) are never served.

Request log (--log), one line per request when it has ended, fields separated by tabs,
"-" for an absent value:
  method  target  host  range  if-range  status  body-bytes
target is the request target as sent (absolute in proxy mode); host is the host name
(lower case, without port) of the absolute URI, else of the Host header.
"""

import argparse
import select
import email.utils
import http.server
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse

PREFIX = "/updater/"
HOLD_LIMIT_S = 60.0


def parse_faults(path):
    """The switches of a sidecar file as a dict (stalls as a list), or {}."""
    try:
        with open(path, encoding="utf-8") as sidecar:
            return parse_text(sidecar.read())
    except OSError:
        return {}


def parse_text(text):
    """The switches of one section of a sidecar file."""
    faults = {"stall": []}
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        key, _, value = line.partition("=")
        key, value = key.strip(), value.strip()
        if key == "stall":
            after, _, pause = value.partition(":")
            faults["stall"].append((int(after), int(pause)))
        else:
            faults[key] = value
    return faults


def parse_range(header, size):
    """(first, last) of a single "bytes=" range, "unsatisfiable", or None to ignore it."""
    if not header or not header.startswith("bytes="):
        return None
    wanted = header[6:].split(",", 1)[0].strip()
    first, dash, last = wanted.partition("-")
    if not dash:
        return None
    try:
        if first == "":
            count = int(last)
            if count == 0:
                return "unsatisfiable"
            return (max(0, size - count), size - 1)
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size:
        return "unsatisfiable"
    if end < start:
        return None
    return (start, min(end, size - 1))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VeltoTestUpdateServer/1"

    def log_message(self, format, *args):  # the request log replaces stderr chatter
        pass

    # One log line per request; sent counts the body bytes that reached the socket.
    def record(self, status, sent):
        def field(value):
            return value if value else "-"
        line = "\t".join([
            field(self.command), field(self.path), field(self.target_host),
            field(self.headers.get("Range")), field(self.headers.get("If-Range")),
            str(status), str(sent)]) + "\n"
        with self.server.log_lock:
            with open(self.server.log_path, "a", encoding="utf-8") as log:
                log.write(line)

    def do_CONNECT(self):
        self.target_host = self.path
        host, _, port = self.path.rpartition(":")
        tunnel_port = self.server.tunnel_port()
        if not (host.lower().endswith(".velto.example") and port == "443" and tunnel_port):
            return self.respond_simple(405, "tunnels are not offered")
        try:
            upstream = socket.create_connection(("127.0.0.1", tunnel_port), timeout=10)
        except OSError:
            return self.respond_simple(502, "tunnel target unreachable")
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        # Logged when the tunnel opens: a client may keep it open long after its request.
        self.record(200, 0)
        self.close_connection = True
        self.relay(upstream)

    def relay(self, upstream):
        """Copies both ways until one side closes (bounded by 60 s of silence)."""
        sockets = [self.connection, upstream]
        try:
            while True:
                ready, _, _ = select.select(sockets, [], [], 60)
                if not ready:
                    break
                for source in ready:
                    data = source.recv(65536)
                    if not data:
                        return
                    target = upstream if source is self.connection else self.connection
                    target.sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        self.target_host = self.headers.get("Host", "").rsplit(":", 1)[0].lower()
        path = self.path
        if path.startswith("http://") or path.startswith("https://"):
            parsed = urllib.parse.urlsplit(path)
            self.target_host = (parsed.hostname or "").lower()
            path = parsed.path
        if not path.startswith(PREFIX):
            return self.respond_simple(404, "not below /updater/")
        relative = urllib.parse.unquote(path[len(PREFIX):])
        root = self.server.vhosts.get(self.target_host, self.server.root)
        parts = [p for p in relative.split("/") if p]
        if not parts or any(p in (".", "..") or "\\" in p for p in parts) or \
                relative.endswith((".fault", ".hold")):
            return self.respond_simple(404, "no such file")
        file_path = os.path.join(root, *parts)
        if not os.path.isfile(file_path):
            return self.respond_simple(404, "no such file")
        faults = self.take_faults(file_path + ".fault")
        if "no-answer" in faults:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            self.record(0, 0)
        else:
            self.serve_file(file_path, faults, head)
        if "replace-with" in faults:
            other = os.path.join(os.path.dirname(file_path), faults["replace-with"])
            with open(other, "rb") as source, open(file_path + ".new", "wb") as copy:
                copy.write(source.read())
            os.replace(file_path + ".new", file_path)

    def take_faults(self, sidecar):
        with self.server.fault_lock:
            try:
                with open(sidecar, encoding="utf-8") as f:
                    sections = f.read().split("\n---\n")
            except OSError:
                sections = []
            if len(sections) > 1:
                with open(sidecar + ".tmp", "w", encoding="utf-8") as f:
                    f.write("\n---\n".join(sections[1:]))
                os.replace(sidecar + ".tmp", sidecar)
                return parse_text(sections[0])
            faults = parse_faults(sidecar)
            if "times" in faults:
                left = int(faults["times"]) - 1
                try:
                    if left <= 0:
                        os.remove(sidecar)
                    else:
                        with open(sidecar, encoding="utf-8") as f:
                            lines = [l for l in f.read().splitlines()
                                     if not l.strip().startswith("times")]
                        with open(sidecar, "w", encoding="utf-8") as f:
                            f.write("\n".join(lines + ["times=%d" % left]) + "\n")
                except OSError:
                    pass
            return faults

    def respond_simple(self, status, text, extra=()):
        body = (text + "\n").encode()
        self.send_response(status)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        sent = 0
        if self.command != "HEAD":
            self.wfile.write(body)
            sent = len(body)
        self.record(status, sent)

    def serve_file(self, file_path, faults, head):
        stat = os.stat(file_path)
        size = stat.st_size
        etag = '"%x-%x-%x"' % (stat.st_mtime_ns, size, stat.st_ino)
        last_modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        validators = [("ETag", etag), ("Last-Modified", last_modified)]

        if "status" in faults:
            return self.respond_simple(int(faults["status"]), "fault switch")
        if "redirect" in faults:
            location = "/moved/" + os.path.basename(file_path)
            return self.respond_simple(int(faults["redirect"]), "moved",
                                       [("Location", location)])

        requested = None
        if "ignore-range" not in faults:
            requested = parse_range(self.headers.get("Range"), size)
            if_range = self.headers.get("If-Range")
            if requested is not None and if_range is not None and \
                    if_range not in (etag, last_modified) and "ignore-if-range" not in faults:
                requested = None
        if requested is not None and "unsatisfiable" in faults:
            requested = "unsatisfiable"

        if requested == "unsatisfiable":
            total = faults.get("unsatisfiable", str(size))
            extra = [] if total == "none" else [("Content-Range", "bytes */%s" % total)]
            self.send_response(416)
            for name, value in extra + validators:
                self.send_header(name, value)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return self.record(416, 0)

        if requested is None:
            status, first, last = 200, 0, size - 1
        else:
            status, (first, last) = 206, requested
            first = max(0, min(first + int(faults.get("start-beyond", "0")), size))
        length = max(0, last - first + 1)

        self.send_response(status)
        for name, value in validators:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if "content-range" in faults:
            self.send_header("Content-Range", faults["content-range"])
        elif status == 206 and "partial-without-range" not in faults:
            total = faults.get("range-total", str(size))
            self.send_header("Content-Range", "bytes %d-%d/%s" % (first, last, total))
        chunked = "chunked" in faults
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif "no-length" in faults:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", faults.get("length", str(length)))
        self.end_headers()
        if head:
            return self.record(status, 0)

        sent = 0
        try:
            sent = self.send_body(file_path, first, length, faults, chunked)
        except (BrokenPipeError, ConnectionResetError) as error:
            sent = getattr(error, "sent", sent)
            self.close_connection = True
        self.record(status, sent)

    def send_body(self, file_path, first, length, faults, chunked):
        cut = None
        for key in ("close-after", "reset-after"):
            if key in faults:
                cut = (key, int(faults[key]))
        piece, pause = 65536, 0
        if "trickle" in faults:
            count, _, ms = faults["trickle"].partition(":")
            piece, pause = max(1, int(count)), int(ms or "0") / 1000.0
        stalls = sorted(faults.get("stall", []))
        hold = int(faults["hold"]) if "hold" in faults else None
        limit = length if cut is None else min(length, cut[1])
        sent = 0
        with open(file_path, "rb") as source:
            source.seek(first)
            while sent < limit:
                if stalls and sent >= stalls[0][0]:
                    time.sleep(stalls.pop(0)[1] / 1000.0)
                    continue
                if hold is not None and sent >= hold:
                    self.wait_for_release(file_path + ".hold")
                    hold = None
                    continue
                step = min(piece, limit - sent)
                if stalls:
                    step = min(step, stalls[0][0] - sent)
                if hold is not None:
                    step = min(step, hold - sent)
                if pause:
                    time.sleep(pause)
                data = source.read(step)
                if not data:
                    break
                try:
                    if chunked:
                        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
                    else:
                        self.wfile.write(data)
                except (BrokenPipeError, ConnectionResetError) as error:
                    error.sent = sent
                    raise
                sent += len(data)
        if cut is not None:
            self.cut_connection(cut[0] == "reset-after")
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")
        return sent

    @staticmethod
    def wait_for_release(gate):
        deadline = time.monotonic() + HOLD_LIMIT_S
        while os.path.exists(gate) and time.monotonic() < deadline:
            time.sleep(0.02)

    def cut_connection(self, reset):
        self.close_connection = True
        if reset:
            # Linger 0 makes close() send RST instead of FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
        else:
            self.connection.shutdown(socket.SHUT_RDWR)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False
    tunnel_port_file = None

    def tunnel_port(self):
        """The TLS server's port, read when a tunnel is asked for (it may start later)."""
        try:
            with open(self.tunnel_port_file, encoding="ascii") as port_file:
                return int(port_file.read().strip())
        except (OSError, TypeError, ValueError):
            return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True, help="folder served below /updater/")
    parser.add_argument("--port-file", required=True, help="receives the listening port")
    parser.add_argument("--log", required=True, help="request log (appended)")
    parser.add_argument("--vhost", action="append", default=[], metavar="HOST=DIR",
                        help="serve requests for HOST from DIR instead of --root")
    parser.add_argument("--tunnel", metavar="PORT_FILE",
                        help="tunnel CONNECT *.velto.example:443 to the port named there")
    args = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.abspath(args.root)
    server.vhosts = {}
    for entry in args.vhost:
        host, _, folder = entry.partition("=")
        server.vhosts[host.lower()] = os.path.abspath(folder)
    server.log_path = args.log
    server.tunnel_port_file = args.tunnel
    server.log_lock = threading.Lock()
    server.fault_lock = threading.Lock()
    open(args.log, "a").close()
    # Written whole and renamed, so a reader never sees a half-written port.
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as port_file:
        port_file.write("%d\n" % server.server_address[1])
    os.replace(temporary, args.port_file)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
