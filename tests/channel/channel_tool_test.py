#!/usr/bin/python3
"""kestrova-channel against the loopback HTTPS test server, with keys and
signatures made by the minisign tool. Run by CTest inside with_test_servers.py,
which gives the ports in KESTROVA_TEST_HTTPS_PORT (test CA; it also serves
the program's channel path from WORK/default-channel.json, as the https
proxy of one case) and KESTROVA_TEST_UNTRUSTED_PORT (another CA).

  channel_tool_test.py --tool PATH --certs DIR --work DIR --make-token SCRIPT
                       --deploy-conf NGINX.CONF

The token commands run on a SoftHSM2 token that SCRIPT makes (token_cases.py);
publish, rollback and check --json on nginx with NGINX.CONF (publish_cases.py).
Every case checks the exit code and the exact verdict line on stdout, and
make's refusals that the channel file stayed byte for byte as it was.
"""

import argparse
import base64
import collections
import hashlib
import json
import os
import shutil
import subprocess
import sys
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from publish_cases import publish_cases  # noqa: E402
from token_cases import token_cases  # noqa: E402

COMMENT = "Kestrova AI 1.0.0 — установщик для Windows x86-64"
INSTALLER_SIZE = 300007  # not a whole number of hash blocks

UNREADABLE_CHANNEL = "канал обновлений не читается"
NO_INSTALLER = "в канале обновлений нет установщика"
UNREADABLE_SIGNATURE = "подпись не читается"
MISMATCH = "подпись установщика не сошлась, файл испорчен или подменен"
WRONG_KEY = "The signature was created with a different key than the one provided"
LEGACY = "StreamVerifier only supports non-legacy mode signatures"
INCOMPLETE = "файл скачался не целиком"


class Run:
    comment = COMMENT

    def __init__(self, args):
        self.tool = args.tool
        self.work = args.work
        self.port = os.environ["KESTROVA_TEST_HTTPS_PORT"]
        self.untrusted_port = os.environ["KESTROVA_TEST_UNTRUSTED_PORT"]
        self.env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        self.env["CURL_CA_BUNDLE"] = os.path.join(args.certs, "ca.pem")
        self.failures = []
        self.count = 0

    def path(self, name):
        return os.path.join(self.work, name)

    def url(self, name, port=None, **query):
        query["file"] = self.path(name)
        return (f"https://127.0.0.1:{port or self.port}/{os.path.basename(name)}?"
                + urllib.parse.urlencode(query))

    def tool_run(self, *arguments):
        return subprocess.run([self.tool, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=120)

    def expect(self, case, result, code, stdout, stderr_has=None):
        """Checks one run; stdout is the whole expected verdict line."""
        problems = []
        if result.returncode != code:
            problems.append(f"exit code {result.returncode}, expected {code}")
        if result.stdout != stdout + "\n":
            problems.append(f"stdout {result.stdout!r}, expected {stdout + chr(10)!r}")
        if stderr_has is not None and stderr_has not in result.stderr:
            problems.append(f"stderr lacks {stderr_has!r}")
        self.report(case, problems, result.stderr)

    def report(self, case, problems, stderr=""):
        self.count += 1
        if problems:
            self.failures.append(case)
            print(f"FAIL {case}: " + "; ".join(problems))
            if stderr:
                print("  stderr: " + stderr.rstrip().replace("\n", "\n          "))
        else:
            print(f"ok   {case}")

    # Fixtures: keys, installers, signatures, all made for this run.
    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        for key in ("product", "other"):
            subprocess.run(["minisign", "-G", "-W", "-f", "-p", self.path(key + ".pub"),
                            "-s", self.path(key + ".key")], check=True, capture_output=True)
        with open(self.path("product.pub"), encoding="utf-8") as pub:
            comment_line, self.key_line = pub.read().splitlines()[:2]
        self.key_id = comment_line.rsplit(" ", 1)[1]
        installer = os.urandom(INSTALLER_SIZE)
        self.installer = installer
        self.write("inst.bin", installer)
        altered = bytearray(installer)
        altered[INSTALLER_SIZE // 2] ^= 0x01
        self.write("altered.bin", bytes(altered))
        for name, key, extra in (("inst.minisig", "product", []),
                                 ("legacy.minisig", "product", ["-l"]),
                                 ("other.minisig", "other", [])):
            subprocess.run(["minisign", "-S", *extra, "-s", self.path(key + ".key"), "-m",
                            self.path("inst.bin"), "-x", self.path(name), "-t", COMMENT],
                           check=True, capture_output=True)
        self.write("garbage.minisig", base64.b64encode(self.read("inst.minisig")))

    def write(self, name, data):
        with open(self.path(name), "wb") as out:
            out.write(data if isinstance(data, bytes) else data.encode("utf-8"))

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def signature(self, name):
        return base64.b64encode(self.read(name)).decode("ascii")

    def channel(self, name, installer_url, signature_file):
        document = {"platforms": {"windows-x86_64": {"url": installer_url,
                                                     "signature": self.signature(signature_file)}}}
        self.write(name, json.dumps(document))
        return self.url(name)

    def check(self, channel_url, *extra):
        return self.tool_run("check", "--channel", channel_url, "--public-key", self.key_line,
                             *extra)

    def make(self, channel, installer, signature, url):
        return self.tool_run("make", "--installer", self.path(installer), "--signature",
                             self.path(signature), "--url", url, "--channel", self.path(channel),
                             "--public-key", self.key_line)

    def verified_line(self, url):
        return (f"verified: {url}, {INSTALLER_SIZE} bytes, key {self.key_id}, "
                f"trusted comment: {COMMENT}")

    def make_cases(self):
        url = self.url("inst.bin")
        # A new document, then check reads it back from the server.
        os.makedirs(self.path("new"))
        result = self.make("new/latest.json", "inst.bin", "inst.minisig", url)
        self.expect("make new document", result, 0,
                    f"written: {self.path('new/latest.json')}: {url}, {INSTALLER_SIZE} bytes, "
                    f"key {self.key_id}, trusted comment: {COMMENT}")
        with open(self.path("new/latest.json"), encoding="utf-8") as made:
            document = json.load(made)
        expected = {"platforms": {"windows-x86_64": {"url": url,
                                                     "signature": self.signature("inst.minisig")}}}
        self.report("make new document: content", [] if document == expected
                    else [f"document {document!r}"])
        result = self.check(self.url("new/latest.json"))
        self.expect("make then check", result, 0, self.verified_line(url))
        # The test server sends no cache headers and the installer's name
        # lacks its hash: these two warnings and no progress bar on a stderr
        # that is no terminal.
        hex16 = hashlib.sha256(self.installer).hexdigest()[:16]
        warnings = ("kestrova-channel: warning: channel document: no Cache-Control or Expires "
                    "header; caches choose how long to keep it\n"
                    f"kestrova-channel: warning: installer: {url} is cacheable but not "
                    f"content-named (its name lacks {hex16}, the first 16 hexadecimal digits of "
                    "its SHA-256); a cache can serve old bytes under it\n")
        self.report("check warns of no cache headers and a name without the hash, and no more",
                    [] if result.stderr == warnings else [f"stderr {result.stderr!r}"])
        result = self.check(self.url("new/latest.json"), "--keep", self.path("kept.bin"))
        self.expect("check --keep", result, 0, self.verified_line(url))
        self.report("check --keep: file", [] if os.path.exists(self.path("kept.bin"))
                    and self.read("kept.bin") == self.installer else ["kept file differs"])

        # Merging keeps every other member, its value and its place.
        existing = collections.OrderedDict([
            ("version", "1.2.3"),
            ("platforms", collections.OrderedDict([
                ("macos-arm64", {"url": "https://cdn.example/mac.dmg", "signature": "bWFj"}),
                ("windows-x86_64", collections.OrderedDict([
                    ("size", 12), ("url", "https://old.example/old.exe"),
                    ("sha256", "abc"), ("signature", "b2xk")])),
                ("linux-x86_64", None)])),
            ("notes", {"ru": "Привет", "list": [1, 2.5, True, None]}),
        ])
        self.write("merge.json", json.dumps(existing, ensure_ascii=False, indent=4))
        result = self.make("merge.json", "inst.bin", "inst.minisig", url)
        self.expect("make merges", result, 0,
                    f"written: {self.path('merge.json')}: {url}, {INSTALLER_SIZE} bytes, "
                    f"key {self.key_id}, trusted comment: {COMMENT}")
        with open(self.path("merge.json"), encoding="utf-8") as merged:
            document = json.load(merged, object_pairs_hook=collections.OrderedDict)
        existing["platforms"]["windows-x86_64"]["url"] = url
        existing["platforms"]["windows-x86_64"]["signature"] = self.signature("inst.minisig")
        same = json.dumps(document) == json.dumps(existing)  # order included
        self.report("make merges: other members kept in order",
                    [] if same else [f"document {json.dumps(document)}"])

        # Each refusal leaves the existing document byte for byte.
        before = self.read("merge.json")
        refusals = [
            ("legacy signature", "inst.bin", "legacy.minisig", url, 1, LEGACY, "minisign -S"),
            ("other key", "inst.bin", "other.minisig", url, 1, WRONG_KEY,
             "kestrova-channel sign --installer"),
            ("file does not match", "altered.bin", "inst.minisig", url, 1, MISMATCH,
             "minisign -S"),
            ("unreadable signature file", "inst.bin", "garbage.minisig", url, 1,
             UNREADABLE_SIGNATURE, "minisign -S"),
            ("not https", "inst.bin", "inst.minisig", url.replace("https:", "http:"), 1,
             "the installer's address is not https", "not an https address"),
            ("missing installer", "missing.bin", "inst.minisig", url, 3, None,
             "missing.bin: No such file or directory"),
            ("missing signature file", "inst.bin", "missing.minisig", url, 3, None,
             "missing.minisig: No such file or directory"),
        ]
        for case, installer, signature, address, code, text, advice in refusals:
            result = self.make("merge.json", installer, signature, address)
            if code == 3:
                self.expect_local(f"make refuses: {case}", result, advice)
            else:
                self.expect(f"make refuses: {case}", result, code, text, stderr_has=advice)
            self.report(f"make refuses: {case}: channel unchanged",
                        [] if self.read("merge.json") == before else ["channel file changed"])
        # An existing channel that the program cannot read is not merged into.
        self.write("broken.json", "{\"platforms\": {}, }")
        result = self.make("broken.json", "inst.bin", "inst.minisig", url)
        self.expect_local("make refuses: unreadable existing channel", result, UNREADABLE_CHANNEL)
        self.report("make refuses: unreadable existing channel: unchanged",
                    [] if self.read("broken.json") == b"{\"platforms\": {}, }"
                    else ["channel file changed"])
        leftovers = [name for name in os.listdir(self.work) if name.startswith(".")]
        self.report("make leaves no temporary files", [f"left {leftovers}"] if leftovers else [])

    def expect_local(self, case, result, stderr_has):
        """A local file problem: exit 3, nothing on stdout."""
        problems = []
        if result.returncode != 3:
            problems.append(f"exit code {result.returncode}, expected 3")
        if result.stdout != "":
            problems.append(f"stdout {result.stdout!r}, expected nothing")
        if stderr_has not in result.stderr:
            problems.append(f"stderr lacks {stderr_has!r}")
        self.report(case, problems, result.stderr)

    def check_cases(self):
        url = self.url("inst.bin")
        unreadable = self.url("unreadable.json")
        self.write("unreadable.json", "{\"platforms\": ")
        no_installer = self.url("no-installer.json")
        self.write("no-installer.json", json.dumps(
            {"platforms": {"macos-arm64": {"url": url, "signature": self.signature("inst.minisig")}}}))
        cases = [
            ("404", self.url("inst.bin", status=404), ["сервер ответил 404"]),
            ("unreadable document", unreadable, [UNREADABLE_CHANNEL]),
            ("no installer entry", no_installer, [NO_INSTALLER]),
            ("legacy signature", self.channel("legacy.json", url, "legacy.minisig"), [LEGACY]),
            ("other key", self.channel("other.json", url, "other.minisig"), [WRONG_KEY]),
            ("one altered byte", self.channel("altered.json", self.url("altered.bin"),
                                              "inst.minisig"), [MISMATCH]),
            ("short body", self.channel("short.json", self.url(
                "inst.bin", length=INSTALLER_SIZE + 1000), "inst.minisig"), [INCOMPLETE]),
            ("broken connection", self.channel("reset.json", self.url(
                "inst.bin", reset=100000), "inst.minisig"), ["связь оборвалась (код 56)"]),
            ("untrusted certificate", self.url("inst.bin", port=self.untrusted_port),
             ["сервер kestrova.ai недоступен (код 60)"]),
            ("huge channel body", f"https://127.0.0.1:{self.port}/huge?size=4194305",
             [UNREADABLE_CHANNEL, "the channel document is larger than 4194304 bytes"]),
        ]
        for case, channel_url, (text, *stderr_has) in cases:
            keep = self.path("kept-" + case.replace(" ", "-"))
            self.expect(f"check: {case}", self.check(channel_url, "--keep", keep), 1, text,
                        *stderr_has)
            self.report(f"check: {case}: nothing kept", ["kept a file"] if os.path.exists(keep)
                        else [])

    def default_channel_case(self):
        """Without --channel, check fetches the program's own address; here
        through the test server as https proxy (CONNECT), which serves that
        path from default-channel.json for any host."""
        url = f"https://kestrova.ai/inst.bin?" + urllib.parse.urlencode(
            {"file": self.path("inst.bin")})
        self.channel("default-channel.json", url, "inst.minisig")
        proxy = f"http://127.0.0.1:{self.port}"
        env = dict(self.env, https_proxy=proxy, HTTPS_PROXY=proxy)
        result = subprocess.run([self.tool, "check", "--public-key", self.key_line], env=env,
                                capture_output=True, text=True, timeout=120)
        self.expect("check: the program's channel address through a proxy", result, 0,
                    self.verified_line(url))

    def usage_cases(self):
        result = self.tool_run("--help")
        self.report("help names the program's channel address and the exit codes",
                    [] if result.returncode == 0 and
                    "https://kestrova.ai/updates/kestrova-desk/latest.json" in result.stdout and
                    "Exit codes:" in result.stdout and "  4  the token cannot be used" in
                    result.stdout else [f"help {result.stdout!r}"])
        for case, arguments in (("no command", []), ("unknown option", ["check", "--nope"]),
                                ("make without --url", ["make", "--installer", "a",
                                                        "--signature", "b"]),
                                ("bad key", ["check", "--public-key", "RWQ"])):
            result = self.tool_run(*arguments)
            self.report(f"usage: {case}", [] if result.returncode == 2 and result.stdout == ""
                        else [f"exit {result.returncode}, stdout {result.stdout!r}"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--certs", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--make-token", required=True)
    parser.add_argument("--deploy-conf", required=True)
    args = parser.parse_args()
    run = Run(args)
    run.prepare()
    run.usage_cases()
    run.make_cases()
    run.check_cases()
    run.default_channel_case()
    publish_cases(run, args.certs, args.deploy_conf)
    token_cases(run, args.make_token)
    print(f"{run.count - len(run.failures)} passed, {len(run.failures)} failed")
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
