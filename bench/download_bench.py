"""Download benchmarks of KestrovaAI-setup.exe under Wine: peak resident
memory for a 16 MiB and a 1 GiB installer and for a channel body without
end, and the wall time of the 1 GiB
download against a baseline program that reads the same URL with the same
WinINet calls and buffer but neither hashes nor writes.

  download_bench.py --config E2E_CONFIG --baseline EXE --out DIR [--runs N]

Reuses the end-to-end harness (tests/e2e/e2e.py): its Wine prefix set-up
(Xvfb, test CA in the prefix's Root store, system proxy), its temporary-folder
launcher and the program built with the run's minisign key. The site is
tests/tools/http_test_server.py, which also answers CONNECT itself, so it is
the prefix's proxy and the HTTPS site for kestrova.ai at once; it serves the
installers from files in DIR (not kept anywhere else) with a hard time limit.
Everything listens on 127.0.0.1 only.
"""

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402

PYTHON = "/usr/bin/python3"
SERVER = os.path.join(ROOT, "tests", "tools", "http_test_server.py")
MIB = 1 << 20
GIB = 1 << 30
INSTALLER_PATH = "/downloads/KestrovaAI-install-bench.exe"
INSTALLER_URL = "https://kestrova.ai" + INSTALLER_PATH


def make_installer(path, size):
    """A file of SIZE bytes (kept between runs when it has that size)."""
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    block = bytes((i * 31 + 7) & 0xFF for i in range(MIB))
    with open(path + ".new", "wb") as file:
        for _ in range(size // MIB):
            file.write(block)
        file.write(block[:size % MIB])
    os.replace(path + ".new", path)


def sign(path, key_file):
    """minisign's own signature of the file (prehashed, its default)."""
    signature = path + ".minisig"
    subprocess.run(["minisign", "-S", "-s", key_file, "-m", path, "-x", signature, "-t",
                    "Kestrova AI benchmark"], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, timeout=120)
    with open(signature, "rb") as file:
        return e2e.Run.b64(file.read())


class Site:
    """http_test_server.py as proxy and site, serving one channel document
    and one installer file."""

    def __init__(self, env, out, channel_file, installer_file, timeout, channel_extra=""):
        port_file = os.path.join(out, "server.port")
        if os.path.exists(port_file):
            os.remove(port_file)
        ca = os.path.join(env.dir, "ca")
        self.process = subprocess.Popen(
            [PYTHON, SERVER, "--port-file", port_file, "--timeout", str(timeout),
             "--tls-cert", os.path.join(ca, "site.pem"), "--tls-key", os.path.join(ca, "site.key"),
             "--route", e2e.CHANNEL_PATH + "=file=" + channel_file + channel_extra,
             "--route", INSTALLER_PATH + "=file=" + installer_file],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while not os.path.exists(port_file) and time.time() < deadline:
            time.sleep(0.05)
        if not os.path.exists(port_file):
            self.stop()
            raise e2e.Failed("the loopback server did not start")
        with open(port_file) as file:
            self.port = int(file.read())
        env.reg_add(e2e.PROXY_KEY, "ProxyServer", "REG_SZ", "127.0.0.1:%d" % self.port)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class ProcessWatch:
    """Polls /proc for the Linux process of the Windows program PATH (Wine
    gives it the exe's Windows path as argv[0]; the full path tells it apart
    from other builds of the program running at the same time) and keeps the
    last VmHWM it read, the kernel's peak resident set of that process, and
    the last CPU time (user and system, all threads) it read."""

    TICK = os.sysconf("SC_CLK_TCK")

    def __init__(self, path):
        self.path = e2e.windows_path(path).lower()
        self.peak_kib = None
        self.cpu_seconds = None
        self.pid = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._poll, daemon=True)
        self._thread.start()

    def _find(self):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as file:
                    argv0 = file.read().split(b"\0")[0].decode("utf-8", "replace")
            except OSError:
                continue
            if argv0.lower() == self.path:
                return entry
        return None

    def _poll(self):
        while not self._stop.is_set():
            if self.pid is None:
                self.pid = self._find()
                if self.pid is None:
                    time.sleep(0.01)
                    continue
            try:
                with open("/proc/%s/status" % self.pid) as file:
                    status = file.read()
                with open("/proc/%s/stat" % self.pid) as file:
                    fields = file.read().rsplit(")", 1)[1].split()
            except OSError:
                return  # the process has ended; its last readings stay
            for line in status.split("\n"):
                if line.startswith("VmHWM:"):
                    self.peak_kib = int(line.split()[1])
            self.cpu_seconds = (int(fields[11]) + int(fields[12])) / self.TICK
            time.sleep(0.01)

    def stop(self):
        self._stop.set()
        self._thread.join(5)


def run_setup(env, config, out, expected_size, timeout):
    temp = os.path.join(out, "temp")
    os.makedirs(temp, exist_ok=True)
    for name in os.listdir(temp):
        os.remove(os.path.join(temp, name))
    watch = ProcessWatch(config["program"])
    started = time.monotonic()
    result = env.run_in_temp(temp, config["program"], "--no-run", timeout=timeout)
    seconds = time.monotonic() - started
    watch.stop()
    left = os.path.join(temp, e2e.FILE_NAME)
    size = os.path.getsize(left) if os.path.exists(left) else None
    if result.returncode != 0 or size != expected_size:
        raise e2e.Failed("setup run: exit %d, installer of %r bytes (expected %d)" % (
            result.returncode, size, expected_size))
    os.remove(left)
    if watch.peak_kib is None:
        raise e2e.Failed("the program's process was never seen in /proc")
    return {"seconds": seconds, "peak_kib": watch.peak_kib, "cpu_seconds": watch.cpu_seconds}


def run_baseline(env, config, baseline, out, expected_size, timeout):
    output = os.path.join(out, "baseline-output.txt")
    temp = os.path.join(out, "temp")
    os.makedirs(temp, exist_ok=True)
    watch = ProcessWatch(baseline)
    started = time.monotonic()
    result = env.run_in_temp(temp, baseline, INSTALLER_URL, timeout=timeout, output=output)
    seconds = time.monotonic() - started
    watch.stop()
    with open(output, encoding="utf-8", errors="replace") as file:
        said = file.read().strip()
    if result.returncode != 0 or said != "status 200 bytes %d" % expected_size:
        raise e2e.Failed("baseline run: exit %d, %r" % (result.returncode, said))
    return {"seconds": seconds, "peak_kib": watch.peak_kib, "cpu_seconds": watch.cpu_seconds}


def phase(env, config, out, size, label, runs, baseline=None):
    installer = os.path.join(out, "installer-%s.bin" % label)
    make_installer(installer, size)
    signature = sign(installer, os.path.join(config["keys"], "run.key"))
    channel = os.path.join(out, "channel-%s.json" % label)
    with open(channel, "wb") as file:
        file.write(e2e.Run.channel(INSTALLER_URL, signature))
    per_run = 60 + size // (8 * MIB)
    site = Site(env, out, channel, installer, timeout=runs * 2 * per_run + 60)
    try:
        setup, base = [], []
        for _ in range(runs):
            if baseline is not None:
                base.append(run_baseline(env, config, baseline, out, size, per_run))
            setup.append(run_setup(env, config, out, size, per_run))
    finally:
        site.stop()
    result = {"size": size, "setup": setup,
              "peak_kib_median": statistics.median(r["peak_kib"] for r in setup),
              "setup_seconds_median": statistics.median(r["seconds"] for r in setup)}
    if base:
        result["baseline"] = base
        result["baseline_seconds_median"] = statistics.median(r["seconds"] for r in base)
    return result


def endless_channel(env, config, out, size):
    """The peak resident memory of a run whose channel answers with SIZE
    bytes and no length (a body without end, as far as the setup can tell):
    the run fails, leaving nothing in the temporary folder."""
    body = os.path.join(out, "endless-channel.bin")
    make_installer(body, size)
    site = Site(env, out, body, body, timeout=180, channel_extra="&length=none")
    temp = os.path.join(out, "temp")
    os.makedirs(temp, exist_ok=True)
    watch = ProcessWatch(config["program"])
    try:
        result = env.run_in_temp(temp, config["program"], "--no-run", timeout=120)
    finally:
        watch.stop()
        site.stop()
    if result.returncode != 1 or os.listdir(temp):
        raise e2e.Failed("endless channel: exit %d, left %r" % (result.returncode, os.listdir(temp)))
    return {"size": size, "peak_kib": watch.peak_kib}


def sink_cost(env, sink_program, out):
    """Seconds that hashing and writing 1 GiB in 64 KiB chunks take on their
    own in this prefix (bench/sink_cost.cpp)."""
    output = os.path.join(out, "sink-cost.txt")
    temp = os.path.join(out, "temp")
    os.makedirs(temp, exist_ok=True)
    env.wine(sink_program, e2e.windows_path(os.path.join(temp, "sink.bin")), "1024", timeout=300,
             output=output)
    with open(output) as file:
        words = file.read().split()
    return {"hash_seconds": float(words[1]), "write_seconds": float(words[3])}


def cpu_median(runs):
    values = [r["cpu_seconds"] for r in runs if r["cpu_seconds"] is not None]
    return statistics.median(values) if values else float("nan")


def load_average():
    with open("/proc/loadavg") as file:
        return file.read().split()[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--baseline", required=True)
    parser.add_argument("--sink-cost", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--json", required=True)
    options = parser.parse_args()
    # Hard limit: this process, and with it the runs, ends whatever happens.
    signal.signal(signal.SIGALRM, lambda *_: os._exit(124))
    signal.alarm(3000)
    with open(options.config) as file:
        config = json.load(file)
    out = os.path.abspath(options.out)
    os.makedirs(out, exist_ok=True)
    config["env"] = os.path.join(out, "env")
    env = e2e.Env(config)
    env.up()
    load_before = load_average()
    try:
        small = phase(env, config, out, 16 * MIB, "16MiB", 3)
        large = phase(env, config, out, GIB, "1GiB", options.runs, baseline=options.baseline)
        sink = sink_cost(env, options.sink_cost, out)
        endless = endless_channel(env, config, out, 512 * MIB)
    finally:
        env.down()
    difference = large["peak_kib_median"] - small["peak_kib_median"]
    ratio = large["setup_seconds_median"] / large["baseline_seconds_median"]
    data = {"memory": {"16MiB_peak_kib": small["peak_kib_median"],
                       "1GiB_peak_kib": large["peak_kib_median"],
                       "difference_kib": difference, "met": difference < 1024},
            "throughput": {"setup_seconds": large["setup_seconds_median"],
                           "baseline_seconds": large["baseline_seconds_median"],
                           "ratio": ratio, "met": ratio <= 1.5},
            "sink_cost_1GiB": sink,
            "endless_channel": endless,
            "load_average": [load_before, load_average()],
            "runs": {"16MiB": small, "1GiB": large}}
    with open(options.json, "w", encoding="utf-8") as file:
        json.dump(data, file, indent=1)
    print("memory: peak resident (VmHWM) of the setup process, --no-run, medians: "
          "16 MiB %d KiB, 1 GiB %d KiB, difference %d KiB; goal < 1024 KiB: %s" % (
              small["peak_kib_median"], large["peak_kib_median"], difference,
              "met" if difference < 1024 else "NOT met"))
    print("  16 MiB runs: " + ", ".join("%d KiB %.2f s" % (r["peak_kib"], r["seconds"])
                                        for r in small["setup"]))
    print("  1 GiB runs:  " + ", ".join("%d KiB" % r["peak_kib"] for r in large["setup"]))
    print("throughput: 1 GiB over loopback HTTPS, wall time, medians of %d runs: setup %.2f s "
          "(%.0f MiB/s), baseline %.2f s (%.0f MiB/s), ratio %.2f; goal <= 1.5: %s" % (
              options.runs, large["setup_seconds_median"], 1024 / large["setup_seconds_median"],
              large["baseline_seconds_median"], 1024 / large["baseline_seconds_median"], ratio,
              "met" if ratio <= 1.5 else "NOT met"))
    print("  setup:    " + ", ".join("%.2f" % r["seconds"] for r in large["setup"]))
    print("  baseline: " + ", ".join("%.2f" % r["seconds"] for r in large["baseline"]))
    print("  CPU time of the Windows process (user + system, medians): setup %.2f s, "
          "baseline %.2f s; load average (1 min) before and after: %s, %s" % (
              cpu_median(large["setup"]), cpu_median(large["baseline"]), data["load_average"][0],
              data["load_average"][1]))
    print("  the setup's per-chunk work alone for 1 GiB (64 KiB chunks): BLAKE2b update %.2f s, "
          "WriteFile %.2f s" % (sink["hash_seconds"], sink["write_seconds"]))
    print("endless channel: a 512 MiB channel body without a length: peak resident (VmHWM) "
          "of the setup process %d KiB" % endless["peak_kib"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
