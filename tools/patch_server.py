#!/usr/bin/env python3
"""Local HTTPS patch server for the tests: serves a directory on 127.0.0.1 for GET and HEAD.

Port P presents a certificate for 127.0.0.1 from the test CA, P+1 one for another host name
("wrong.example"; asked for "localhost" by SNI it presents a certificate from an untrusted CA instead),
and P+2 an expired certificate for 127.0.0.1. Query strings are ignored. A sidecar file "<file>.fault"
changes how <file> is served; it holds one or more of these words (unknown words are ignored):
  no-length   no Content-Length header (HEAD and GET): the body ends when the connection closes
  chunked     no Content-Length; the GET body comes in the chunked transfer coding, ended by its last
              chunk (with a drop below, one chunk is announced for the whole body and the connection
              breaks inside its data)
  status404   the not-found page instead of the file
  status503   a 503 error page (with its length and no validator) instead of the file
  status206   status 206 with a Content-Range over the whole file
  etag        an ETag with every answer (nginx's form: "<mtime>-<size>" in hex, mtime in whole seconds),
              and "Range: bytes=<n>-" honoured with a 206 of the rest when there is no If-Range or it
              names that ETag (otherwise the whole file with 200)
  short206    like etag, but every GET is answered with a 206 over only the first half of what it asks
              for (the rest after the range's start, or the whole file); Content-Range and
              Content-Length say so
  drop-half   the GET sends half the body, then the connection breaks (no TLS close-notify)
  drop-at:<n> the GET sends exactly n bytes of the body, then the connection breaks
  drop-once   the first GET after the sidecar was written drops half-way; later ones are served whole
  slow        the GET body comes in 20 pieces over 2 seconds
  slow:<s>    likewise over s seconds (with a drop, the bytes sent before it take the s seconds)
  stall       the GET sends half the body, then nothing more, keeping the connection open for
              STALL_SECONDS (longer than any client receive time-out) or until the client closes it
  no-head     HEAD is refused with 405 and the length of its error page, as a server that allows
              only GET answers; GET works
Words combine, e.g. "no-head drop-at:10".
"""
import argparse
import html
import os
import select
import shutil
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 1 << 20
FAULTS = {"no-length", "chunked", "status404", "status503", "status206", "etag", "short206", "drop-half",
          "drop-once", "slow", "stall", "no-head"}
NUMBERED = ("drop-at", "slow")  # words that also come as "<word>:<n>"
SLOW_PIECES = 20
SLOW_TOTAL_SECONDS = 2.0
STALL_SECONDS = 120
REQUEST_TIMEOUT_SECONDS = 60


class PatchRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VYRTestPatchServer"
    timeout = REQUEST_TIMEOUT_SECONDS

    def log_message(self, fmt, *args):
        log = self.server.log_file
        if log:
            log.write("%s port %d %s\n" % (time.strftime("%H:%M:%S"), self.server.server_port, fmt % args))
            log.flush()

    def do_HEAD(self):
        self.serve(send_body=False)

    def do_GET(self):
        self.serve(send_body=True)

    def local_path(self):
        """The file under the root that the request names, or None (outside the root, missing, a directory)."""
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        parts = [p for p in path.split("/") if p not in ("", ".")]
        if any(p == ".." or "\\" in p or "\0" in p for p in parts):
            return None
        root = self.server.root
        candidate = os.path.realpath(os.path.join(root, *parts))
        if os.path.commonpath([root, candidate]) != root or not os.path.isfile(candidate):
            return None
        return candidate

    @staticmethod
    def faults_of(path):
        """The fault words of path's sidecar, with "drop-at:<n>" and "slow:<s>" kept as the number under
        "drop-at" and "slow"."""
        try:
            with open(path + ".fault", encoding="ascii", errors="replace") as f:
                words = f.read(256).split()
        except OSError:
            return {}
        faults = {}
        for word in words:
            name, _, number = word.partition(":")
            if word in FAULTS:
                faults[word] = True
            elif name in NUMBERED and number.isdigit():
                faults[name] = int(number)
        return faults

    def drops_this_time(self, path):
        """drop-once: true for the first GET since the sidecar was (re)written, false afterwards."""
        try:
            sidecar = os.stat(path + ".fault")
        except OSError:
            return False
        key = (path, sidecar.st_ino, sidecar.st_mtime_ns)
        with self.server.state_lock:
            if key in self.server.dropped_once:
                return False
            self.server.dropped_once.add(key)
            return True

    def send_error_page(self, send_body, status=404):
        title = "404 Not Found" if status == 404 else "503 Service Unavailable"
        body = ("<html><head><title>%s</title></head><body><h1>%s</h1><p>%s</p></body></html>\n"
                % (title, title, html.escape(self.path))).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def refuse_head(self):
        body = b"<html><head><title>405 Not Allowed</title></head><body><h1>405 Not Allowed</h1></body></html>\n"
        self.send_response(405)
        self.send_header("Allow", "GET")
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()

    @staticmethod
    def etag_of(path):
        info = os.stat(path)
        return '"%x-%x"' % (int(info.st_mtime), info.st_size)

    def requested_start(self, path, size):
        """The first byte a "Range: bytes=<n>-" request asks for, when the etag words honour it; else 0."""
        wanted = self.headers.get("Range", "")
        if not wanted.startswith("bytes=") or not wanted.endswith("-") or not wanted[6:-1].isdigit():
            return 0
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range != self.etag_of(path):
            return 0
        start = int(wanted[6:-1])
        return start if 0 < start < size else 0

    def serve(self, send_body):
        self.close_connection = True
        path = self.local_path()
        faults = self.faults_of(path) if path else {}
        if path is None or "status404" in faults or "status503" in faults:
            self.send_error_page(send_body, 503 if path and "status503" in faults else 404)
            return
        if not send_body and "no-head" in faults:
            self.refuse_head()
            return
        size = os.path.getsize(path)
        ranged = "etag" in faults or "short206" in faults
        start = self.requested_start(path, size) if ranged and send_body else 0
        end = size  # one past the last byte sent
        short = "short206" in faults and send_body and size > 1
        if short:
            end = start + (size - start) // 2
        partial = start or short
        chunked = "chunked" in faults
        self.send_response(206 if partial or "status206" in faults else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if ranged:
            self.send_header("ETag", self.etag_of(path))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif "no-length" not in faults:
            self.send_header("Content-Length", str(end - start))
        if partial:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))
        elif "status206" in faults:
            self.send_header("Content-Range", "bytes 0-%d/%d" % (max(size - 1, 0), size))
        self.send_header("Connection", "close")
        self.end_headers()
        if not send_body:
            return
        with open(path, "rb") as f:
            f.seek(start)
            count = end - start
            cut = None
            if "drop-at" in faults:
                cut = min(faults["drop-at"], count)
            elif "drop-half" in faults or ("drop-once" in faults and self.drops_this_time(path)):
                cut = count // 2
            write = self.write_chunk if chunked else self.wfile.write
            if chunked and cut is not None:
                # One chunk announced for the whole body, broken off inside its data.
                self.wfile.write(b"%x\r\n" % count)
                write = self.wfile.write
            if "stall" in faults:
                self.send_bytes(f, count // 2, write)
                self.stall()
            elif "slow" in faults:
                seconds = SLOW_TOTAL_SECONDS if faults["slow"] is True else faults["slow"]
                self.send_slowly(f, count if cut is None else cut, seconds, write)
            else:
                self.send_bytes(f, count if cut is None else cut, write)
            if cut is not None:
                self.drop_connection()
                return
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def write_chunk(self, data):
        self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")

    def send_bytes(self, f, count, write):
        while count > 0:
            data = f.read(min(CHUNK, count))
            if not data:
                break
            write(data)
            count -= len(data)
        self.wfile.flush()

    def send_slowly(self, f, count, seconds, write):
        piece = max(1, -(-count // SLOW_PIECES))
        while count > 0:
            data = f.read(min(piece, count))
            if not data:
                break
            write(data)
            self.wfile.flush()
            count -= len(data)
            time.sleep(seconds / SLOW_PIECES)

    def stall(self):
        # Holds the connection open without sending; a client that gives up and closes ends the wait
        # early, so a stalled request does not outlive the client that made it.
        deadline = time.monotonic() + STALL_SECONDS
        while time.monotonic() < deadline:
            try:
                readable, _, _ = select.select([self.connection], [], [], min(1.0, deadline - time.monotonic()))
                if readable and not self.connection.recv(1024):
                    return
            except (OSError, ValueError, ssl.SSLError):
                return

    def drop_connection(self):
        # Closing without the TLS close-notify makes the client see a broken transfer, not a clean end.
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class PatchServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, root, context, log_file):
        self.root = root
        self.tls_context = context
        self.log_file = log_file
        self.state_lock = threading.Lock()
        self.dropped_once = set()  # (path, sidecar inode, sidecar mtime) of the drop-once files already dropped
        super().__init__(("127.0.0.1", port), PatchRequestHandler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the request's own thread, so a stalled client holds up nobody else.
        request.settimeout(REQUEST_TIMEOUT_SECONDS)
        try:
            tls = self.tls_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            try:
                tls.close()
            except OSError:
                pass


def make_context(certs, name, sni_contexts=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(certs, name + ".pem"), os.path.join(certs, name + ".key"))
    if sni_contexts:
        def choose(sslobj, server_name, _context):
            if server_name in sni_contexts:
                sslobj.context = sni_contexts[server_name]
        context.sni_callback = choose
    return context


def make_servers(args, log_file):
    untrusted = make_context(args.certs, "untrusted")
    contexts = [make_context(args.certs, "server"),
                make_context(args.certs, "wrong-host", {"localhost": untrusted}),
                make_context(args.certs, "expired")]
    root = os.path.realpath(args.root)
    return [PatchServer(args.port + i, root, c, log_file) for i, c in enumerate(contexts)]


def our_process(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"patch_server.py" in f.read()
    except OSError:
        return False


def stop_daemon(pid_file):
    """Stops the daemon recorded in pid_file, if it is still ours; returns when it is gone."""
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return
    if our_process(pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not our_process(pid):
                break
            time.sleep(0.05)
    try:
        os.remove(pid_file)
    except OSError:
        pass


def serve(servers):
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for t in threads:
        t.start()
    stop.wait()
    for s in servers:
        s.shutdown()
        s.server_close()


def daemonize(pid_file, log_path):
    """Forks; the parent writes the child's pid and exits once the sockets already listen."""
    pid = os.fork()
    if pid > 0:
        with open(pid_file, "w") as f:
            f.write("%d\n" % pid)
        os._exit(0)
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    out = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644) if log_path else devnull
    os.dup2(devnull, 0)
    os.dup2(out, 1)
    os.dup2(out, 2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", help="directory to serve")
    parser.add_argument("--port", type=int, default=47443, help="first of the three ports")
    parser.add_argument("--certs", help="directory made by tools/make_test_certs.sh")
    parser.add_argument("--daemon", action="store_true", help="run in the background")
    parser.add_argument("--pid-file", help="where --daemon records the server's pid")
    parser.add_argument("--log", help="request log file")
    parser.add_argument("--stop", action="store_true", help="stop the daemon recorded in --pid-file")
    args = parser.parse_args()

    if args.stop or args.daemon:
        if not args.pid_file:
            parser.error("--stop and --daemon need --pid-file")
        stop_daemon(args.pid_file)
        if args.stop:
            return 0
    if not args.root or not args.certs:
        parser.error("--root and --certs are required")
    os.makedirs(args.root, exist_ok=True)
    log_file = open(args.log, "a", buffering=1) if args.log else None
    servers = make_servers(args, log_file)
    if args.daemon:
        daemonize(args.pid_file, args.log)
    serve(servers)
    return 0


if __name__ == "__main__":
    sys.exit(main())
