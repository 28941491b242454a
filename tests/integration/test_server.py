#!/usr/bin/env python3
"""A small HTTP service for the integration tests, on 127.0.0.1 and a free port.

Prints "PORT <n>" once listening (and writes it to --port-file when given), then serves
until killed or --lifetime seconds pass. Paths:
  /echo...             200, JSON of the request: method, path, header lines in order, body
  /status/<code>?body= that status with the URL-decoded body as application/json
  /redirect            302 to /echo
  /bytes/<n>           200 with n bytes
  /delay/<ms>          200 {} after the delay
  /hang                never answers
  /empty               200 with an empty body
  /nocontent           204
  /records/<n>         200, a JSON array of ledger-like records, at most n bytes long
  /two-content-types   200 with Content-Type image/webp, then image/png
  /tabbed-content-type 200 with Content-Type "\timage/png\t"
  /switching           101 Switching Protocols, then the connection is held open
Scripted answers, for the bridge host tests:
  POST /__script       {"routes": [{"method", "path", "status", "headers", "header_lines",
                       "body" or "body_base64", "delay_ms", "hold_ms"}]}: later requests
                       with that method and exact path (query included) get that answer;
                       "header_lines" may repeat a name, "hold_ms" keeps the connection
                       open that long after the answer
  GET  /__requests     the requests recorded since the last call (method, path, header
                       lines, body_base64), oldest first
"""
import argparse
import base64
import functools
import json
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


ROUTES = {}
RECORDED = []
LOCK = threading.Lock()


@functools.lru_cache(maxsize=4)
def records(limit):
    """A JSON array of ledger-like records, as long as fits in `limit` bytes."""
    out = [b"["]
    size = 2
    i = 0
    while True:
        record = json.dumps({"id": f"{i:08x}-89ab-cdef-0123-456789abcdef", "kind": "progress",
                             "quantity": i % 97, "amount": i * 3, "note": "进度 " + "x" * (150 + i % 100),
                             "occurred_at": "2024-05-01T10:00:00Z", "item_obtained": i % 2 == 0},
                            ensure_ascii=False, separators=(",", ":")).encode()
        if size + len(record) + 1 > limit:
            break
        if i:
            out.append(b",")
            size += 1
        out.append(record)
        size += len(record)
        i += 1
    out.append(b"]")
    return b"".join(out)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _send(self, status, body=b"", content_type="application/json", extra=()):
        self.send_response(status)
        if status != 204:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if status != 204 and body:
            self.wfile.write(body)

    def _control(self, body):
        global RECORDED
        if self.path == "/__script" and self.command == "POST":
            with LOCK:
                for route in json.loads(body)["routes"]:
                    ROUTES[(route["method"], route["path"])] = route
            self._send(204)
        elif self.path == "/__requests":
            with LOCK:
                recorded, RECORDED = RECORDED, []
            self._send(200, json.dumps(recorded).encode())
        elif self.path == "/__reset" and self.command == "POST":
            with LOCK:
                ROUTES.clear()
                RECORDED = []
            self._send(204)
        else:
            self._send(404)

    def _scripted(self, route):
        time.sleep(route.get("delay_ms", 0) / 1000)
        if "body_base64" in route:
            body = base64.b64decode(route["body_base64"])
        else:
            body = route.get("body", "").encode()
        status = route.get("status", 200)
        self.send_response(status)
        for name, value in route.get("headers", {}).items():
            self.send_header(name, value)
        for name, value in route.get("header_lines", []):
            self.send_header(name, value)
        has_body = status != 204 and not 100 <= status < 200
        if has_body:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if has_body and body:
            self.wfile.write(body)
        if "hold_ms" in route:
            self.wfile.flush()
            time.sleep(route["hold_ms"] / 1000)
            self.close_connection = True

    def _handle(self):
        body = self._body()
        if self.path.startswith("/__"):
            self._control(body)
            return
        with LOCK:
            RECORDED.append({
                "method": self.command,
                "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body_base64": base64.b64encode(body).decode(),
            })
            route = ROUTES.get((self.command, self.path))
        if route is not None:
            self._scripted(route)
            return
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")
        if url.path.startswith("/echo") or url.path.startswith("/api/echo"):
            record = {
                "method": self.command,
                "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": body.decode("utf-8", "replace"),
            }
            self._send(200, json.dumps(record, ensure_ascii=False).encode())
        elif url.path.startswith("/status/"):
            query = urllib.parse.parse_qs(url.query)
            text = query.get("body", [""])[0].encode()
            self._send(int(parts[2]), text)
        elif url.path == "/redirect":
            self._send(302, b"", extra=[("Location", "/echo")])
        elif url.path.startswith("/bytes/"):
            self._send(200, b"x" * int(parts[2]), "application/octet-stream")
        elif url.path.startswith("/delay/"):
            time.sleep(int(parts[2]) / 1000)
            self._send(200, b"{}")
        elif url.path == "/hang":
            time.sleep(120)
        elif url.path == "/empty":
            self._send(200, b"")
        elif url.path == "/nocontent":
            self._send(204)
        elif url.path.startswith("/records/"):
            self._send(200, records(int(parts[2])))
        elif url.path == "/two-content-types":
            self.send_response(200)
            self.send_header("Content-Type", "image/webp")
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", "3")
            self.end_headers()
            self.wfile.write(b"IMG")
        elif url.path == "/tabbed-content-type":
            self._send(200, b"IMG", "\timage/png\t")
        elif url.path == "/switching":
            self.send_response(101)
            self.send_header("Upgrade", "other")
            self.send_header("Connection", "Upgrade")
            self.end_headers()
            self.wfile.flush()
            time.sleep(30)
            self.close_connection = True
        else:
            self._send(404, b'{"error":{"code":"NOT_FOUND","message":"no such path"}}')

    do_GET = do_POST = do_PATCH = do_DELETE = _handle


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file")
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    ThreadingHTTPServer.request_queue_size = 64  # many clients at once without SYN retries
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file, "w") as out:
            out.write(str(port))
    print(f"PORT {port}", flush=True)
    threading.Timer(args.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
