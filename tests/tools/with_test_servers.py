#!/usr/bin/python3
"""Runs a command while loopback test servers are up, then stops them.

Command line:
  with_test_servers.py [--timeout SECONDS] [--server VAR ARGS]... -- COMMAND...

  --server VAR ARGS  starts http_test_server.py with ARGS (one shell-quoted
                     string, e.g. "--tls-cert s.pem --tls-key s.key") and
                     gives COMMAND the server's port in the environment
                     variable VAR; repeatable, one server each
  --timeout SECONDS  hard limit for the command (default 240); every server
                     also gets it (plus a margin) as its own --timeout

The exit code is the command's (124 after the time limit). The servers are
stopped when the command ends, and end by themselves in any case.
"""

import argparse
import os
import shlex
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"


def main():
    argv = sys.argv[1:]
    if "--" not in argv:
        sys.exit("usage: with_test_servers.py [--timeout S] [--server VAR ARGS]... -- COMMAND...")
    split = argv.index("--")
    parser = argparse.ArgumentParser()
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("--server", nargs=2, action="append", default=[], metavar=("VAR", "ARGS"))
    args = parser.parse_args(argv[:split])
    command = argv[split + 1:]

    servers = []
    env = dict(os.environ)
    with tempfile.TemporaryDirectory(prefix="test-servers-") as work:
        try:
            for number, (variable, server_args) in enumerate(args.server):
                port_file = os.path.join(work, f"port{number}")
                servers.append(subprocess.Popen(
                    [PYTHON, os.path.join(HERE, "http_test_server.py"), "--port-file", port_file,
                     "--timeout", str(args.timeout + 30)] + shlex.split(server_args),
                    stdin=subprocess.DEVNULL))
                deadline = time.monotonic() + 20
                while not os.path.exists(port_file):
                    if time.monotonic() > deadline or servers[-1].poll() is not None:
                        sys.exit(f"with_test_servers: server {variable} did not start")
                    time.sleep(0.05)
                with open(port_file, encoding="ascii") as port:
                    env[variable] = port.read().strip()
            try:
                return subprocess.run(command, env=env, timeout=args.timeout).returncode
            except subprocess.TimeoutExpired:
                print("with_test_servers: command timed out", file=sys.stderr)
                return 124
        finally:
            for server in servers:
                server.terminate()
            for server in servers:
                try:
                    server.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    server.kill()


if __name__ == "__main__":
    sys.exit(main())
