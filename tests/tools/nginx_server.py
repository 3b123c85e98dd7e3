"""Debian's nginx on loopback with the deployment config docs/deploy/nginx.conf,
for the tests that publish a web root and read it back over HTTPS.

    with NginxServer(prefix, deploy_conf, root, cert, key, variants) as nginx:
        nginx.ports, nginx.access_log()

The server block is the deploy file itself with its four marked lines
replaced (each must be found exactly once, so a changed file fails the
test), on nginx.ports[0]; each of VARIANTS (lines that replace the channel
document's Cache-Control line) is another copy on the next port. Everything
nginx writes lives in PREFIX; it runs under `timeout`, so it ends by itself
even when the test does not stop it, and stop() ends it on every path
(SIGQUIT, then SIGKILL).
"""

import json
import os
import signal
import socket
import subprocess
import time

NGINX = "/usr/sbin/nginx"
DOCUMENT_CACHE = 'add_header Cache-Control "public, max-age=60";'
# One JSON object a line: what each request asked and what it was given.
LOG_FORMAT = ("'{\"method\":\"$request_method\",\"uri\":\"$request_uri\",\"status\":$status,"
              "\"bytes\":$body_bytes_sent,\"agent\":\"$http_user_agent\","
              "\"cacheControl\":\"$sent_http_cache_control\",\"port\":$server_port}'")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def replaced_once(text, old, new):
    if text.count(old) != 1:
        raise RuntimeError(f"nginx.conf: {old!r} occurs {text.count(old)} times, expected once")
    return text.replace(old, new)


class NginxServer:
    def __init__(self, prefix, deploy_conf, root, cert, key, variants=(), limit=240):
        prefix, root, cert, key = (os.path.abspath(p) for p in (prefix, root, cert, key))
        self.prefix, self.limit = prefix, limit
        with open(deploy_conf, encoding="utf-8") as file:
            deploy = file.read()
        for line, value in (("root /srv/kestrova-channel;", f"root {root};"),
                            ("ssl_certificate /etc/ssl/kestrova/fullchain.pem;",
                             f"ssl_certificate {cert};"),
                            ("ssl_certificate_key /etc/ssl/kestrova/privkey.pem;",
                             f"ssl_certificate_key {key};")):
            deploy = replaced_once(deploy, line, value)
        self.servers = [deploy] + [replaced_once(deploy, DOCUMENT_CACHE, line)
                                   for line in variants]
        self.process = None

    def main_config(self, ports):
        p = self.prefix
        servers = "\n".join(replaced_once(server, "listen 443 ssl http2;",
                                          f"listen 127.0.0.1:{port} ssl http2;")
                            for server, port in zip(self.servers, ports))
        temp = "".join(f"    {kind}_temp_path {p}/temp/{kind};\n"
                       for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        return (("user root;\n" if os.geteuid() == 0 else "")
                + f"daemon off;\nworker_processes 1;\npid {p}/nginx.pid;\n"
                f"error_log {p}/error.log info;\nevents {{ worker_connections 64; }}\n"
                f"http {{\n    log_format tests escape=json {LOG_FORMAT};\n"
                f"    access_log {p}/access.log tests;\n{temp}{servers}\n}}\n")

    def __enter__(self):
        os.makedirs(os.path.join(self.prefix, "temp"), exist_ok=True)
        for attempt in range(3):  # a drawn port may be taken before nginx binds it
            ports = [free_port() for _ in self.servers]
            config = os.path.join(self.prefix, "nginx.conf")
            with open(config, "w", encoding="utf-8") as file:
                file.write(self.main_config(ports))
            with open(os.path.join(self.prefix, "nginx.out"), "wb") as out:
                self.process = subprocess.Popen(
                    ["timeout", "-k", "5", str(self.limit), NGINX, "-p", self.prefix + "/",
                     "-c", config, "-e", os.path.join(self.prefix, "error.log")],
                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
            if self.wait_listening(ports):
                self.ports = ports
                return self
            self.stop()
        raise RuntimeError("nginx did not start: " + self.errors())

    def wait_listening(self, ports, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                for port in ports:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def errors(self):
        with open(os.path.join(self.prefix, "error.log"), encoding="utf-8",
                  errors="replace") as log:
            return log.read()[-2000:]

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        # timeout passes the signal on to nginx; QUIT is its graceful stop.
        self.process.send_signal(signal.SIGQUIT)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)  # timeout leads its own group
            self.process.wait(10)

    def __exit__(self, *_):
        self.stop()

    def access_log(self):
        """Every request so far, oldest first, as the log's JSON objects."""
        path = os.path.join(self.prefix, "access.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]
