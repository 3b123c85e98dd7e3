"""kestrova-channel check benchmark: peak resident memory for a 16 MiB and a
1 GiB installer, and the 1 GiB throughput against `curl -o /dev/null` of the
same URL, run alternately in one run. Then kestrova-channel sign with a key on
a SoftHSM2 token (tests/tools/make_test_token.sh, the key made by pkcs11-tool)
against `minisign -S` of the same 1 GiB file, run alternately, and the peak
memory of sign for both sizes. Last, kestrova-channel publish of the 1 GiB
installer into an empty web root against `cp` of the same file followed by
`minisign -V` of the copy, run alternately, and publish's peak memory.

  channel_bench.py --tool PATH --out DIR [--runs N] [--json FILE]

The tool is the channel-release build (-O2, no sanitizers). The site is
tests/tools/http_test_server.py on 127.0.0.1 with a test CA made for the run
(tests/tools/make_test_certs.sh, trusted through CURL_CA_BUNDLE for both
clients); it serves the channel document and the installers from files in DIR
and ends by itself. A minisign key made for the run signs the installers; the
tool gets its public key with --public-key.
"""

import argparse
import base64
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PYTHON = "/usr/bin/python3"
SERVER = os.path.join(ROOT, "tests", "tools", "http_test_server.py")
MAKE_CERTS = os.path.join(ROOT, "tests", "tools", "make_test_certs.sh")
MAKE_TOKEN = os.path.join(ROOT, "tests", "tools", "make_test_token.sh")
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN_URI = "pkcs11:token=kestrova-bench;object=kestrova-update;type=private"
MIB = 1 << 20
GIB = 1 << 30

sys.path.insert(0, HERE)
from download_bench import make_installer  # noqa: E402


def run_measured(command, env):
    """(wall seconds, CPU seconds (user + system), stdout) of one run."""
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # Both clients print at most a line, far less than a pipe holds.
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    stdout = process.stdout.read().decode()
    process.stdout.close()
    if process.returncode != 0:
        sys.exit(f"channel_bench: {command[0]} failed ({process.returncode}): {stdout!r}")
    return seconds, usage.ru_utime + usage.ru_stime, stdout


def peak_rss(command, env):
    """Peak resident memory (KiB) of one run, from wait4's rusage."""
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        os.execve(command[0], command, env)
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"channel_bench: {command[0]} failed")
    return usage.ru_maxrss


def sign_bench(tool, out, key, installers, runs, env):
    """Times of sign against minisign -S on the 1 GiB file, alternately, and
    sign's peak memory for each size."""
    token = os.path.join(out, "token")
    if not os.path.exists(os.path.join(token, "kestrova-bench.pin")):
        subprocess.run([MAKE_TOKEN, token, "kestrova-bench"], check=True)
        with open(os.path.join(token, "kestrova-bench.pin"), encoding="ascii") as pin:
            subprocess.run(["pkcs11-tool", "--module", SOFTHSM, "--token-label", "kestrova-bench",
                            "--login", "--pin", pin.read(), "--keypairgen", "--key-type",
                            "EC:edwards25519", "--id", os.urandom(8).hex(), "--label",
                            "kestrova-update"], check=True, stdout=subprocess.DEVNULL,
                           env=dict(env, SOFTHSM2_CONF=os.path.join(token, "softhsm2.conf")))
    with open(os.path.join(token, "kestrova-bench.pin"), encoding="ascii") as pin:
        env = dict(env, SOFTHSM2_CONF=os.path.join(token, "softhsm2.conf"),
                   KESTROVA_SIGN_PIN=pin.read())
    _, _, pub = run_measured([tool, "public-key", "--pkcs11-module", SOFTHSM, "--key", TOKEN_URI],
                             env)
    token_line = pub.splitlines()[1]

    def sign(installer):
        return [tool, "sign", "--installer", installer, "--pkcs11-module", SOFTHSM, "--key",
                TOKEN_URI, "--signature", os.path.join(out, "token.minisig"),
                "--trusted-comment", "Kestrova AI benchmark", "--public-key", token_line]

    rss = {label: max(peak_rss(sign(path), env) for _ in range(3))
           for label, path in installers.items()}
    minisign = ["/usr/bin/minisign", "-S", "-s", key, "-m", installers["1GiB"], "-x",
                os.path.join(out, "minisign.minisig"), "-t", "Kestrova AI benchmark"]
    times = {"minisign": [], "sign": []}
    cpu = {"minisign": [], "sign": []}
    for _ in range(runs):
        for name, command in (("minisign", minisign), ("sign", sign(installers["1GiB"]))):
            seconds, cpu_seconds, _ = run_measured(command, env)
            times[name].append(seconds)
            cpu[name].append(cpu_seconds)
    medians = {name: statistics.median(values) for name, values in times.items()}
    return {"sign_peak_rss_kib": rss, "sign_seconds": times, "sign_cpu_seconds": cpu,
            "sign_median_seconds": medians,
            "ratio_sign_to_minisign": medians["sign"] / medians["minisign"]}


def publish_bench(tool, out, key_line, installers, runs, env):
    """Times of publish against cp + minisign -V of the 1 GiB file,
    alternately, each into a folder of its own made empty before the run,
    and publish's peak memory for each size."""

    def fresh(name):
        folder = os.path.join(out, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    def publish(installer):
        return [tool, "publish", "--root", fresh("publish-root"), "--installer", installer,
                "--signature", installer + ".minisig", "--base-url", "https://cdn.kestrova.ai",
                "--public-key", key_line]

    def copy_and_verify(installer):
        copy = os.path.join(fresh("cp-root"), os.path.basename(installer))
        return ["/bin/sh", "-c", 'cp "$1" "$2" && exec /usr/bin/minisign -V -q -P "$3" -m "$2" '
                '-x "$1.minisig"', "sh", installer, copy, key_line]

    rss = {label: max(peak_rss(publish(path), env) for _ in range(3))
           for label, path in installers.items()}
    times = {"cp_minisign": [], "publish": []}
    cpu = {"cp_minisign": [], "publish": []}
    for _ in range(runs):
        for name, command in (("cp_minisign", copy_and_verify(installers["1GiB"])),
                              ("publish", publish(installers["1GiB"]))):
            seconds, cpu_seconds, _ = run_measured(command, env)
            times[name].append(seconds)
            cpu[name].append(cpu_seconds)
    for name in ("publish-root", "cp-root"):
        shutil.rmtree(os.path.join(out, name), ignore_errors=True)
    medians = {name: statistics.median(values) for name, values in times.items()}
    return {"publish_peak_rss_kib": rss, "publish_seconds": times, "publish_cpu_seconds": cpu,
            "publish_median_seconds": medians,
            "ratio_publish_to_cp_minisign": medians["publish"] / medians["cp_minisign"]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--json")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    out = os.path.abspath(args.out)
    certs = os.path.join(out, "certs")
    subprocess.run([MAKE_CERTS, certs], check=True)

    key = os.path.join(out, "bench.key")
    if not os.path.exists(key):
        subprocess.run(["minisign", "-G", "-W", "-f", "-p", key[:-4] + ".pub", "-s", key],
                       check=True, stdout=subprocess.DEVNULL)
    with open(key[:-4] + ".pub", encoding="ascii") as pub:
        key_line = pub.read().splitlines()[1]

    port_file = os.path.join(out, "server.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    server = subprocess.Popen(
        [PYTHON, SERVER, "--port-file", port_file, "--timeout", "1800",
         "--tls-cert", os.path.join(certs, "server.pem"),
         "--tls-key", os.path.join(certs, "server.key")],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 20
        while not os.path.exists(port_file) and time.time() < deadline:
            time.sleep(0.05)
        with open(port_file, encoding="ascii") as port:
            base = f"https://127.0.0.1:{port.read().strip()}"
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env["CURL_CA_BUNDLE"] = os.path.join(certs, "ca.pem")

        channels = {}
        for label, size in (("16MiB", 16 * MIB), ("1GiB", GIB)):
            installer = os.path.join(out, f"installer-{label}.bin")
            make_installer(installer, size)
            signature = installer + ".minisig"
            subprocess.run(["minisign", "-S", "-s", key, "-m", installer, "-x", signature,
                            "-t", "Kestrova AI benchmark"], check=True, stdout=subprocess.DEVNULL)
            with open(signature, "rb") as file:
                encoded = base64.b64encode(file.read()).decode("ascii")
            url = f"{base}/installer-{label}.bin?" + urllib.parse.urlencode({"file": installer})
            channel = os.path.join(out, f"latest-{label}.json")
            with open(channel, "w", encoding="ascii") as file:
                json.dump({"platforms": {"windows-x86_64": {"url": url, "signature": encoded}}},
                          file)
            channels[label] = (url, f"{base}/latest.json?" + urllib.parse.urlencode(
                {"file": channel}), size)

        def check(label):
            return [args.tool, "check", "--channel", channels[label][1], "--public-key", key_line]

        # Memory: each size several times; the peak of each.
        rss = {label: max(peak_rss(check(label), env) for _ in range(3)) for label in channels}

        # Throughput: curl and the tool alternately on the 1 GiB URL.
        url, _, size = channels["1GiB"]
        curl = ["/usr/bin/curl", "-sS", "-o", "/dev/null", url]
        times = {"curl": [], "check": []}
        cpu = {"curl": [], "check": []}
        for _ in range(args.runs):
            seconds, cpu_seconds, _ = run_measured(curl, env)
            times["curl"].append(seconds)
            cpu["curl"].append(cpu_seconds)
            seconds, cpu_seconds, verdict = run_measured(check("1GiB"), env)
            if not verdict.startswith("verified: "):
                sys.exit(f"channel_bench: unexpected verdict {verdict!r}")
            times["check"].append(seconds)
            cpu["check"].append(cpu_seconds)
    finally:
        server.terminate()
        server.wait(timeout=10)
    installers = {label: os.path.join(out, f"installer-{label}.bin") for label in channels}
    signing = sign_bench(args.tool, out, key, installers, args.runs, env)
    publishing = publish_bench(args.tool, out, key_line, installers, args.runs, env)

    medians = {name: statistics.median(values) for name, values in times.items()}
    rates = {name: size / seconds / MIB for name, seconds in medians.items()}
    result = {
        "load_average": os.getloadavg(),
        "peak_rss_kib": rss,
        "peak_rss_difference_kib": rss["1GiB"] - rss["16MiB"],
        "seconds": times,
        "median_seconds": medians,
        "cpu_seconds": cpu,
        "median_cpu_seconds": {name: statistics.median(values) for name, values in cpu.items()},
        "median_mib_per_s": rates,
        "ratio_check_to_curl": rates["check"] / rates["curl"],
        **signing,
        **publishing,
    }
    print(f"memory: peak RSS 16 MiB {rss['16MiB']} KiB, 1 GiB {rss['1GiB']} KiB, "
          f"difference {rss['1GiB'] - rss['16MiB']} KiB (goal < 1024)")
    print(f"throughput: check {rates['check']:.0f} MiB/s, curl -o /dev/null "
          f"{rates['curl']:.0f} MiB/s, ratio {result['ratio_check_to_curl']:.3f} (goal >= 0.9); "
          f"median of {args.runs} runs each, alternately")
    print("cpu: median user+system seconds for 1 GiB: check "
          f"{result['median_cpu_seconds']['check']:.2f}, curl "
          f"{result['median_cpu_seconds']['curl']:.2f}")
    print("seconds: " + json.dumps(times))
    sign_rss = signing["sign_peak_rss_kib"]
    sign_medians = signing["sign_median_seconds"]
    print(f"sign: 1 GiB in {sign_medians['sign']:.2f} s, minisign -S "
          f"{sign_medians['minisign']:.2f} s, ratio {signing['ratio_sign_to_minisign']:.3f} "
          f"(goal <= 1.1); median of {args.runs} runs each, alternately")
    print(f"sign memory: peak RSS 16 MiB {sign_rss['16MiB']} KiB, 1 GiB {sign_rss['1GiB']} KiB")
    print("sign seconds: " + json.dumps(signing["sign_seconds"]))
    publish_rss = publishing["publish_peak_rss_kib"]
    publish_medians = publishing["publish_median_seconds"]
    print(f"publish: 1 GiB in {publish_medians['publish']:.2f} s, cp + minisign -V "
          f"{publish_medians['cp_minisign']:.2f} s, ratio "
          f"{publishing['ratio_publish_to_cp_minisign']:.3f} (goal <= 1.2); median of "
          f"{args.runs} runs each, alternately")
    print(f"publish memory: peak RSS 16 MiB {publish_rss['16MiB']} KiB, 1 GiB "
          f"{publish_rss['1GiB']} KiB")
    print("publish seconds: " + json.dumps(publishing["publish_seconds"]))
    print(f"load average after the runs: {result['load_average']}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as file:
            json.dump(result, file, indent=2)


if __name__ == "__main__":
    sys.exit(main())
