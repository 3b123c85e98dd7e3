"""A loopback RFC 3161 time-stamping authority for tests: `openssl ts -reply`
behind an HTTP server on 127.0.0.1, standard library only.

TimeStampAuthority(PKI_DIR).start() serves in a thread of the calling process
(which bounds its life: release_test.py ends itself after a hard time limit)
until stop(). PKI_DIR is the folder of make_signing_pki.sh (tsa.cnf). Every
POST is a time-stamp query; the answer is openssl's reply to it, and
`requests` counts the queries answered.
"""

import http.server
import os
import subprocess
import tempfile
import threading


class TimeStampAuthority:
    def __init__(self, pki_dir):
        self.pki_dir = pki_dir
        self.requests = 0
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                query = self.rfile.read(length)
                reply = authority.reply(query)
                if reply is None:
                    self.send_error(400, "not a time-stamp query")
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.url = "http://127.0.0.1:%d/" % self.port

    def reply(self, query):
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            result = subprocess.run(
                ["openssl", "ts", "-reply", "-config", os.path.join(self.pki_dir, "tsa.cnf"),
                 "-section", "tsa_config", "-queryfile", query_file, "-out", reply_file],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                timeout=30)
            if result.returncode != 0:
                return None
            self.requests += 1
            with open(reply_file, "rb") as f:
                return f.read()

    def start(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
