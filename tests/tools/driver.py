"""What the Python test drivers share: their checks and their command line.

  DRIVER --config FILE ACTION [NAME]    ACTION set-up, run NAME, tear-down
  DRIVER --list                         the names of the driver's cases
"""

import argparse
import os
import signal


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


def equal(actual, expected, what):
    if actual != expected:
        raise Failed("%s: expected %r, got %r" % (what, expected, actual))


def windows_path(path):
    """The path as Wine's Z: drive shows it to Windows programs."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def driver_options(names):
    """The driver's command line; --list prints the case names and ends the
    process."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--config")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("action", nargs="?")
    parser.add_argument("name", nargs="?")
    options = parser.parse_args()
    if options.list:
        print("\n".join(names))
        raise SystemExit(0)
    return options


def hard_limit(seconds):
    """This process, and the servers inside it, end after SECONDS whatever
    happens."""
    signal.signal(signal.SIGALRM, lambda *_: os._exit(124))
    signal.alarm(seconds)
