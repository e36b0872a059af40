#!/usr/bin/env python3
"""A stand-in for the models' host on 127.0.0.1, for the model installer's tests.

Serves files under the host's path layout, /mirror/<REPO>/resolve/main/<file>, redirected to /content/<file> with
the X-Linked-Size and X-Linked-Etag headers the host sends, and misbehaves on request (see Host). Imported by the
Python tests; run as a program it serves the files of a folder (read at each request, so a test can add them
later), prints its port on the first line of stdout, stalls every body after --stall-after bytes until it gets
SIGUSR1, and stops on SIGTERM.
"""

import argparse
import hashlib
import http.server
import signal
import sys
import threading
from pathlib import Path

REPO = "test/models"


class Host:
    """What the handler serves and how it misbehaves; every request is recorded."""

    def __init__(self):
        self.files = {}          # file name -> bytes
        self.linked = {}         # file name -> (X-Linked-Size, X-Linked-Etag) on the redirect, or absent
        self.redirect = True     # resolve/ answers 302 to a content path
        self.ranges = True       # honour Range with 206
        self.drops = {}          # file name -> bytes sent before the connection is cut, once per entry
        self.truncate = {}       # file name -> bytes actually sent of a body announced whole, every time
        self.stall_after = None  # bytes sent before the link stalls until `released` is set
        self.released = threading.Event()
        self.sized = True        # send Content-Length
        self.token = None        # required as "Bearer <token>" on resolve/ when set
        self.requests = []
        self.lock = threading.Lock()

    def seen(self, predicate):
        with self.lock:
            return [r for r in self.requests if predicate(r)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        host = self.server.host
        path = self.path
        proxied = path.startswith("http://")
        if proxied:
            path = "/" + path.split("/", 3)[3]
        with host.lock:
            host.requests.append({"path": path, "range": self.headers.get("Range"), "proxied": proxied,
                                  "authorization": self.headers.get("Authorization"), "url": self.path})
        prefix = f"/mirror/{REPO}/resolve/main/"
        if path.startswith(prefix):
            name = path[len(prefix):]
            if host.token and self.headers.get("Authorization") != f"Bearer {host.token}":
                return self.empty(401)
            if name not in host.files:
                return self.empty(404)
            if host.redirect:
                headers = {"Location": f"/content/{name}"}
                if name in host.linked:
                    size, etag = host.linked[name]
                    headers.update({"X-Linked-Size": str(size), "X-Linked-Etag": f'"{etag}"'})
                return self.empty(302, headers)
            return self.body(name)
        if path.startswith("/content/") and path[len("/content/"):] in host.files:
            return self.body(path[len("/content/"):])
        self.empty(404)

    def empty(self, status, headers=None):
        self.send_response(status)
        for key, value in (headers or {}).items():
            self.send_header(key, value)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def body(self, name):
        host = self.server.host
        data = host.files[name]
        start = 0
        wanted = self.headers.get("Range")
        if wanted and host.ranges:
            start = int(wanted.split("=")[1].split("-")[0])
            if start >= len(data):
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{len(data)}")
                self.send_header("Content-Length", "0")
                return self.end_headers()
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}")
        else:
            self.send_response(200)
        if not self.server.host.redirect and name in host.linked:
            size, etag = host.linked[name]
            self.send_header("X-Linked-Size", str(size))
            self.send_header("X-Linked-Etag", f'"{etag}"')
        if host.sized:
            self.send_header("Content-Length", str(len(data) - start))
        self.send_header("Connection", "close")
        self.end_headers()
        limit = len(data)
        with host.lock:
            if name in host.drops:
                limit = min(limit, start + host.drops.pop(name))
            if name in host.truncate:
                limit = min(limit, host.truncate[name])
        position = start
        try:
            while position < limit:
                if host.stall_after is not None and position >= host.stall_after:
                    host.released.wait()
                    host.stall_after = None
                end = min(limit, position + 64 * 1024)
                if host.stall_after is not None and position < host.stall_after:
                    end = min(end, host.stall_after)
                self.wfile.write(data[position:end])
                self.wfile.flush()
                position = end
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True


class FolderFiles:
    """The files of a folder by name, read when asked for."""

    def __init__(self, folder):
        self.folder = Path(folder)

    def __contains__(self, name):
        return "/" not in name and (self.folder / name).is_file()

    def __getitem__(self, name):
        return (self.folder / name).read_bytes()


class FolderLinks:
    """X-Linked-Size and X-Linked-Etag of each file of a folder, computed when asked for."""

    def __init__(self, files):
        self.files = files

    def __contains__(self, name):
        return name in self.files

    def __getitem__(self, name):
        data = self.files[name]
        return len(data), hashlib.sha256(data).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--stall-after", type=int)
    args = parser.parse_args()
    host = Host()
    host.files = FolderFiles(args.folder)
    host.linked = FolderLinks(host.files)
    host.stall_after = args.stall_after
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.host = host
    signal.signal(signal.SIGUSR1, lambda *_: host.released.set())
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
