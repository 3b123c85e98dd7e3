"""Loopback servers of the end-to-end runs: an HTTP CONNECT proxy and the
HTTPS site behind it.

The program under test talks to https://kestrova.ai/... through the system
proxy of its Wine prefix. The proxy accepts CONNECT kestrova.ai:443 and tunnels
to the HTTPS site, which presents a certificate for kestrova.ai made by the
run's own test CA (or, with upstream_port, to another server on loopback, such
as an nginx). Both listen on 127.0.0.1 only; their threads are daemons, so
they end with the driver process, which itself has a hard time limit.
"""

import select
import socket
import ssl
import threading
import time
from dataclasses import dataclass, field
from typing import Optional

LOOPBACK = "127.0.0.1"


@dataclass
class Reply:
    """What the site answers for one path."""

    status: int = 200
    body: bytes = b""
    # Content-Length to announce: None announces the body's real length,
    # -1 announces none (the body then ends with the connection).
    announce: Optional[int] = None
    # After this many body bytes the connection is reset (TCP RST).
    reset_after: Optional[int] = None
    # Send at most this many bytes per second (0: as fast as possible).
    rate: int = 0
    # Bytes sent before each pause while throttled.
    step: int = 16384
    # Seconds to wait before the answer.
    delay: float = 0


@dataclass
class Site:
    # Path -> Reply, or a list of Replies for its requests in turn.
    replies: dict = field(default_factory=dict)
    # Proxy behaviour for CONNECT: "tunnel", "close" (close without answering)
    # or "reset" (reset the connection without answering).
    connect: str = "tunnel"
    # Seconds the proxy waits before it acts on a CONNECT, so that even a run
    # that fails at once shows its dialog long enough to be seen.
    connect_delay: float = 0.4
    log: list = field(default_factory=list)
    lock: threading.Lock = field(default_factory=threading.Lock)

    def note(self, entry):
        with self.lock:
            self.log.append(entry)


def _reset_close(sock):
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    except OSError:
        pass
    sock.close()


def _read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def _serve_https(site, raw, context):
    raw.settimeout(30)
    try:
        conn = context.wrap_socket(raw, server_side=True)
    except (OSError, ssl.SSLError) as error:
        site.note(("tls-failed", str(error)))
        raw.close()
        return
    try:
        head = _read_head(conn)
        if head is None:
            conn.close()
            return
        lines = head.split("\r\n")
        method, path = lines[0].split(" ")[0:2]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        site.note(("request", method, path, headers.get("user-agent", "")))
        reply = site.replies.get(path, Reply(status=404, body=b"not found"))
        if isinstance(reply, list):
            # Replies for the path's requests in turn, the last one for any more.
            with site.lock:
                reply = reply.pop(0) if len(reply) > 1 else reply[0]
        time.sleep(reply.delay)
        reasons = {200: "OK", 404: "Not Found", 500: "Internal Server Error"}
        out = "HTTP/1.1 %d %s\r\n" % (reply.status, reasons.get(reply.status, "Status"))
        announce = len(reply.body) if reply.announce is None else reply.announce
        if announce >= 0:
            out += "Content-Length: %d\r\n" % announce
        out += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n"
        conn.sendall(out.encode("latin-1"))
        body = reply.body
        limit = len(body) if reply.reset_after is None else min(reply.reset_after, len(body))
        sent = 0
        step = reply.step if reply.rate else 65536
        while sent < limit:
            piece = body[sent:min(limit, sent + step)]
            conn.sendall(piece)
            sent += len(piece)
            if reply.rate:
                time.sleep(len(piece) / reply.rate)
        if reply.reset_after is not None:
            time.sleep(0.2)
            site.note(("reset", sent))
            _reset_close(conn)
            return
        # The body ends with the connection (no TLS close_notify exchange,
        # which would wait for the client).
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()
    except (OSError, ssl.SSLError) as error:
        site.note(("connection-ended", str(error)))
        try:
            conn.close()
        except OSError:
            pass


def _tunnel(client, upstream):
    """Copies both ways until both sides have ended. A reset from the site is
    passed on at once as a reset to the client."""
    open_sides = {client: upstream, upstream: client}
    while open_sides:
        readable, _, _ = select.select(list(open_sides), [], [], 60)
        if not readable:
            break
        for source in readable:
            target = open_sides.get(source)
            if target is None:
                continue
            try:
                data = source.recv(65536)
            except ConnectionResetError:
                if source is upstream:
                    _reset_close(client)
                    upstream.close()
                    return
                data = b""
            if data:
                try:
                    target.sendall(data)
                except OSError:
                    data = b""
            if not data:
                del open_sides[source]
                try:
                    target.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
    client.close()
    upstream.close()


def _serve_proxy(site, client, site_port):
    client.settimeout(60)
    try:
        head = _read_head(client)
        if head is None:
            client.close()
            return
        request = head.split("\r\n")[0]
        site.note(("connect", request))
        time.sleep(site.connect_delay)
        if site.connect == "close":
            client.close()
            return
        if site.connect == "reset":
            _reset_close(client)
            return
        if not request.startswith("CONNECT kestrova.ai:443 "):
            client.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            client.close()
            return
        upstream = socket.create_connection((LOOPBACK, site_port), timeout=60)
        client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        _tunnel(client, upstream)
    except OSError:
        try:
            client.close()
        except OSError:
            pass


def _accept_loop(listener, handler):
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=handler, args=(conn,), daemon=True).start()


def _listen():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((LOOPBACK, 0))
    listener.listen(16)
    return listener


class Servers:
    """The proxy and the site of one run; stop() closes both listeners."""

    def __init__(self, site, cert_file, key_file, upstream_port=None):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert_file, key_file)
        self.site = site
        self._site_listener = _listen()
        self._proxy_listener = _listen()
        self.site_port = self._site_listener.getsockname()[1]
        self.proxy_port = self._proxy_listener.getsockname()[1]
        threading.Thread(target=_accept_loop, daemon=True,
                         args=(self._site_listener, lambda c: _serve_https(site, c, context))).start()
        threading.Thread(target=_accept_loop, daemon=True,
                         args=(self._proxy_listener,
                               lambda c: _serve_proxy(site, c, upstream_port or self.site_port))
                         ).start()

    def stop(self):
        for listener in (self._site_listener, self._proxy_listener):
            try:
                listener.close()
            except OSError:
                pass
