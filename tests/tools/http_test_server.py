#!/usr/bin/python3
"""A loopback HTTP/HTTPS server for tests, standard library only.

Command line:
  http_test_server.py [--port N] [--port-file FILE] [--timeout SECONDS]
                      [--tls-cert PEM --tls-key PEM] [--route PATH=QUERY]...
                      [--log FILE]

  --port N           port on 127.0.0.1 (default 0: a free one)
  --port-file FILE   once listening, the port is written to FILE (written
                     whole, by rename, so a reader never sees a part)
  --timeout SECONDS  hard limit: the server ends by itself after this long
                     (default 120); it also ends on SIGTERM or SIGINT
  --tls-cert, --tls-key
                     also speak TLS, with this certificate chain and key
                     (PEM): a connection that starts with a TLS handshake
                     gets TLS, any other plain HTTP, on the same port
  --route PATH=QUERY  default response parameters for requests of PATH (the
                     path without the query); QUERY has the query form below,
                     e.g. --route '/updates/latest.json=file=/tmp/l.json'
  --log FILE         one JSON line per request: {"method", "target",
                     "headers", "tunnel"} ("tunnel" is the CONNECT target the
                     request came through, or null)

Every connection carries requests until the server closes it; every response
has "Connection: close". A CONNECT request (any target) is answered with
"200 Connection established" and the tunnel then speaks TLS when a
certificate is given (plain HTTP otherwise), so the server also acts as the
proxy of a client whose system proxy is 127.0.0.1:PORT: an https URL of any
host name ends up here.

Response parameters, from the route of the path, overridden by the query of
the request (e.g. GET /anything?status=404 or /x?size=3145728&length=none):
  status=N     the status code (default 200)
  size=N       a body of N bytes: byte i is i % 251 (default 0)
  file=PATH    the body is the file's content (instead of size)
  length=N     the announced Content-Length, whatever the body's length is;
  length=none  no Content-Length: the body ends when the server closes
               (default: the body's real length)
  reset=K      after K bytes of the body, the connection is reset (TCP RST,
               SO_LINGER 0) instead of closed
  rate=BPS     the body is sent at about BPS bytes per second (in pieces of
               at most 16384 bytes)
  delay=S      the response starts S seconds after the request (float)
A clean end (no reset) closes the connection after the body.
"""

import argparse
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

PIECE = 16384


def pattern(start, count):
    return bytes((i % 251) for i in range(start, start + count))


class Settings:
    tls = None
    routes = {}
    log = None
    log_lock = threading.Lock()


def parse_query(query):
    return dict(urllib.parse.parse_qsl(query, keep_blank_values=True))


def read_head(stream):
    """Request line and headers, or None at the end of the stream."""
    line = stream.readline(65537)
    if not line:
        return None
    parts = line.decode("latin-1").rstrip("\r\n").split(" ")
    if len(parts) < 2:
        return None
    headers = {}
    while True:
        header = stream.readline(65537)
        if not header or header in (b"\r\n", b"\n"):
            break
        name, _, value = header.decode("latin-1").partition(":")
        headers[name.strip()] = value.strip()
    return parts[0], parts[1], headers


def write_log(method, target, headers, tunnel):
    if Settings.log is None:
        return
    entry = {"method": method, "target": target, "headers": headers, "tunnel": tunnel}
    with Settings.log_lock, open(Settings.log, "a", encoding="utf-8") as log:
        log.write(json.dumps(entry) + "\n")


def reset(connection):
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    connection.close()


def respond(connection, target):
    url = urllib.parse.urlsplit(target)
    params = dict(Settings.routes.get(url.path, {}))
    params.update(parse_query(url.query))
    status = int(params.get("status", "200"))
    if "file" in params:
        with open(params["file"], "rb") as source:
            body = source.read()
    else:
        body = pattern(0, int(params.get("size", "0")))
    length = params.get("length", str(len(body)))
    reset_at = int(params["reset"]) if "reset" in params else None
    rate = float(params["rate"]) if "rate" in params else None
    if "delay" in params:
        time.sleep(float(params["delay"]))

    head = f"HTTP/1.1 {status} Test\r\nConnection: close\r\n"
    if length != "none":
        head += f"Content-Length: {int(length)}\r\n"
    head += "Content-Type: application/octet-stream\r\n\r\n"
    connection.sendall(head.encode("latin-1"))

    limit = len(body) if reset_at is None else min(reset_at, len(body))
    sent = 0
    started = time.monotonic()
    while sent < limit:
        piece = body[sent:min(limit, sent + PIECE)]
        connection.sendall(piece)
        sent += len(piece)
        if rate:
            wait = started + sent / rate - time.monotonic()
            if wait > 0:
                time.sleep(wait)
    if reset_at is not None:
        time.sleep(0.2)  # let the bytes sent so far arrive before the reset
        reset(connection)
        return False
    return True


def serve(connection, tunnel):
    """Answers one request on connection; False when it is gone."""
    stream = connection.makefile("rb")
    try:
        head = read_head(stream)
    finally:
        stream.close()
    if head is None:
        return False
    method, target, headers = head
    write_log(method, target, headers, tunnel)
    if method == "CONNECT":
        connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        inner = connection
        if Settings.tls is not None:
            inner = Settings.tls.wrap_socket(connection, server_side=True)
        serve(inner, target)
        return False
    if respond(connection, target):
        try:
            connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        connection.close()
    return False


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        connection = self.request
        connection.settimeout(60)
        try:
            # A TLS client speaks first with a handshake record (0x16);
            # anything else is plain HTTP (a CONNECT included).
            first = connection.recv(1, socket.MSG_PEEK)
            if Settings.tls is not None and first == b"\x16":
                connection = Settings.tls.wrap_socket(connection, server_side=True)
            serve(connection, None)
        except (OSError, ssl.SSLError, ValueError):
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description="loopback HTTP/HTTPS test server")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--route", action="append", default=[])
    parser.add_argument("--log")
    args = parser.parse_args()

    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        Settings.tls = context
    for route in args.route:
        path, _, query = route.partition("=")
        Settings.routes[path] = parse_query(query)
    Settings.log = args.log

    # The hard limit holds whatever the server threads do.
    signal.signal(signal.SIGALRM, lambda *_: os._exit(0))
    signal.setitimer(signal.ITIMER_REAL, args.timeout)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))

    server = Server(("127.0.0.1", args.port), Handler)
    if args.port_file:
        temporary = args.port_file + ".new"
        with open(temporary, "w", encoding="ascii") as port_file:
            port_file.write(str(server.server_address[1]))
        os.replace(temporary, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
