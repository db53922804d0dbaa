#!/usr/bin/env python3
"""Loopback HTTP/audiocast server for the internet-stream tests.

Listens on 127.0.0.1 at a free port, prints "PORT <n>" and serves the routes below until its
stdin closes (the test ends) or its time or connection budget runs out.
"""
import base64
import os
import signal
import socketserver
import sys
import threading
import time
import urllib.parse

MAX_SECONDS = 60
MAX_CONNECTIONS = 400
PROXY_CREDENTIALS = "Basic " + base64.b64encode(b"proxyuser:proxysecret").decode()

connections = 0
lock = threading.Lock()


def pattern(size):
    return bytes((i * 7 + 3) % 251 for i in range(size))


def mp3_frames(count):
    """Silent MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz (417 bytes, no padding)."""
    frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
    return frame * count


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        global connections
        with lock:
            connections += 1
            if connections > MAX_CONNECTIONS:
                os._exit(3)
        self.request.settimeout(20)

    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk or len(data) > 16384:
                return None, None, {}
            data += chunk
        lines = data.split(b"\r\n\r\n")[0].decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return parts[0], parts[1] if len(parts) > 1 else "/", headers

    def send(self, data):
        self.request.sendall(data)

    def head(self, status, headers):
        text = status + "\r\n" + "".join(f"{k}: {v}\r\n" for k, v in headers) + "\r\n"
        self.send(text.encode("latin-1"))

    def handle(self):
        try:
            method, target, headers = self.read_head()
            if method is None:
                return
            self.route(target, headers)
        except OSError:
            pass

    def route(self, target, headers):
        proxied = target.startswith("http://")
        if proxied:
            if headers.get("proxy-authorization") != PROXY_CREDENTIALS:
                self.head("HTTP/1.0 407 Proxy Authentication Required", [])
                return
            target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
        url = urllib.parse.urlsplit(target)
        query = dict(urllib.parse.parse_qsl(url.query))
        size = int(query.get("size", "50000"))
        path = url.path

        if path == "/file":
            # A file of the test's own (under the temporary folder only), as a station would
            # send it.
            name = os.path.realpath(query.get("path", ""))
            if not name.startswith("/tmp/") or not os.path.isfile(name):
                self.head("HTTP/1.0 404 Not Found", [])
                return
            self.head("HTTP/1.0 200 OK", [
                ("Content-Type", "audio/mpeg"),
                ("x-audiocast-name", query.get("name", "")),
                ("x-audiocast-description", query.get("desc", ""))])
            with open(name, "rb") as f:
                self.send(f.read())
        elif path == "/mp3":
            self.head("HTTP/1.0 200 OK", [
                ("Content-Type", "audio/mpeg"),
                ("x-audiocast-name", query.get("name", "")),
                ("x-audiocast-description", query.get("desc", ""))])
            self.send(mp3_frames(int(query.get("frames", "100"))))
        elif path == "/stream":
            fields = [("Content-Type", "audio/mpeg")]
            for key, header in (("name", "x-audiocast-name"), ("desc", "x-audiocast-description"),
                                ("genre", "x-audiocast-genre"), ("allow", "Allow-save")):
                if key in query:
                    fields.append((header, query[key]))
            if proxied:
                fields.append(("x-audiocast-name", "through the proxy"))
            self.head("HTTP/1.0 200 OK", fields)
            self.send(pattern(size))
        elif path == "/whoami":
            self.head("HTTP/1.0 200 OK", [
                ("x-audiocast-genre", headers.get("user-agent", "")),
                ("x-audiocast-name", headers.get("x-audiocast-udpport", "none")),
                ("x-audiocast-udpport", "9")])
            self.send(pattern(size))
        elif path == "/redirect":
            hops = int(query.get("hops", "0"))
            if hops > 0:
                self.head("HTTP/1.1 302 Found", [
                    ("Location", f"/redirect?hops={hops - 1}&size={size}"), ("Content-Length", "0")])
            else:
                self.head("HTTP/1.0 200 OK", [("x-audiocast-name", "arrived")])
                self.send(pattern(size))
        elif path == "/chunked":
            self.head("HTTP/1.1 200 OK", [("Transfer-Encoding", "chunked")])
            body, at, step = pattern(size), 0, 1
            while at < size:
                piece = body[at:at + step]
                self.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
                at += len(piece)
                step = step * 3 + 7
            self.send(b"0\r\n\r\n")
        elif path == "/icy":
            interval = int(query.get("metaint", "1000"))
            self.head("ICY 200 OK", [("icy-name", "Icy Station"), ("icy-metaint", str(interval))])
            body, at, block = pattern(size), 0, 0
            while at < size:
                self.send(body[at:at + interval])
                at += interval
                if at <= size:
                    meta = b"StreamTitle='Song %d';" % block if block % 2 == 0 else b""
                    padded = (len(meta) + 15) // 16 * 16
                    self.send(bytes([padded // 16]) + meta + b"\0" * (padded - len(meta)))
                    block += 1
        elif path == "/endless-header":
            self.send(b"HTTP/1.0 200 OK\r\nX-Long: ")
            for _ in range(64):
                self.send(b"a" * 65536)
        elif path == "/drip":
            for byte in b"HTTP/1.0 200 OK\r\nX-Slow: yes\r\n\r\n":
                self.send(bytes([byte]))
                time.sleep(1)
        elif path == "/stall":
            self.head("HTTP/1.0 200 OK", [])
            self.send(pattern(1000))
            time.sleep(15)
        elif path == "/cut":
            sent = int(query.get("sent", "1000"))
            self.head("HTTP/1.1 200 OK", [("Content-Length", str(size))])
            self.send(pattern(min(sent, size)))
        else:
            self.head("HTTP/1.0 404 Not Found", [])


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    signal.alarm(MAX_SECONDS)
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    # The test holds our stdin; when it ends (or dies) the read returns and we stop.
    sys.stdin.read()
    os._exit(0)


if __name__ == "__main__":
    main()
