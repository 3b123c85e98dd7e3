#!/usr/bin/python3
"""Tests of scripts/release with real tools: openssl, osslsigncode, SoftHSM2,
Wine.

  release_test.py --config FILE setup      signing material, source snapshot
  release_test.py --config FILE run CASE   one case
  release_test.py --list                   the case names

setup makes the test CA, certificates, PKCS#12 files and SoftHSM2 token
(make_signing_pki.sh) and a snapshot of the sources: the files of the work
tree as they are, committed into a fresh git repository in the build tree.
scripts/release runs from that snapshot, so it builds a clean tree in another
folder than the one the windows preset built, with its output folder in the
build tree too. Each case runs the real command (a loopback RFC 3161
authority serves its timestamps) and checks its exit code, messages and
files; the checks of the signed program (chain, Windows' own verdict under
Wine, program image, reproducibility) read the output of case file_key.
"""

import hashlib
import json
import os
import shutil
import socket
import subprocess
import sys

# No __pycache__ beside the sources: it would make the work tree unclean for
# scripts/release.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from driver import Failed, check, driver_options, equal, hard_limit, windows_path  # noqa: E402
from tsa_server import TimeStampAuthority  # noqa: E402

PROGRAM = "KestrovaAI-setup.exe"
UNSIGNED = "KestrovaAI-setup-unsigned.exe"
INFO = "BUILD-INFO.txt"
SUMS = "SHA256SUMS"
NOTICES = "THIRD-PARTY-NOTICES.txt"
SBOM = "KestrovaAI-setup.cdx.json"
TOKEN_KEY = "pkcs11:token=kestrova-test;object=signer;type=private"
SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TRUST_E_BAD_DIGEST = 0x80096010
TRUST_E_NOSIGNATURE = 0x800B0100


def read(path):
    with open(path, "rb") as file:
        return file.read()


class Suite:
    def __init__(self, config):
        self.config = config
        self.work = config["work"]
        self.pki = os.path.join(self.work, "pki")
        self.snapshot = os.path.join(self.work, "src")

    def out(self, case):
        return os.path.join(self.work, "out", case)

    def secret(self, name):
        return read(os.path.join(self.pki, name)).decode()

    # Set-up.

    def setup(self):
        subprocess.run([self.config["make_signing_pki"], self.pki], check=True, timeout=120)
        self.make_snapshot()

    def make_snapshot(self):
        """The work tree's files, committed alone into a fresh repository. Its
        build/ folder (ignored there) is kept between runs, so the release
        build is incremental; libsodium comes from the source's cache."""
        source = self.config["source_dir"]
        os.makedirs(self.snapshot, exist_ok=True)
        for name in os.listdir(self.snapshot):
            if name != "build":
                path = os.path.join(self.snapshot, name)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                                 "--exclude-standard"], check=True, capture_output=True).stdout
        for name in sorted(set(n for n in listed.decode().split("\0") if n)):
            origin = os.path.join(source, name)
            if not os.path.lexists(origin):
                continue  # deleted in the work tree
            target = os.path.join(self.snapshot, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(origin, target, follow_symlinks=False)
        git = ["git", "-C", self.snapshot, "-c", "user.name=release test",
               "-c", "user.email=release-test@localhost"]
        subprocess.run(git + ["init", "-q"], check=True)
        subprocess.run(git + ["add", "-A"], check=True)
        subprocess.run(git + ["commit", "-q", "-m", "snapshot of the work tree"], check=True)
        sodium = os.path.join("build", "deps", "libsodium-windows")
        if not os.path.exists(os.path.join(self.snapshot, sodium)) and os.path.isdir(
                os.path.join(source, sodium)):
            shutil.copytree(os.path.join(source, sodium), os.path.join(self.snapshot, sodium),
                            symlinks=True)

    # Running scripts/release.

    def release(self, case, args, env=None, stale=False):
        out = self.out(case)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        if stale:
            # A release of an earlier run: a failed run must not leave it.
            with open(os.path.join(out, PROGRAM), "wb") as file:
                file.write(b"an earlier release")
        environment = {k: v for k, v in os.environ.items()
                       if not k.startswith("KESTROVA_") and k.lower() not in (
                           "http_proxy", "https_proxy", "all_proxy")}
        environment.update(NO_PROXY="127.0.0.1", no_proxy="127.0.0.1")
        environment.update(env or {})
        result = subprocess.run(
            [os.path.join(self.snapshot, "scripts", "release"), "--out", out, *args],
            env=environment, stdin=subprocess.DEVNULL, capture_output=True, timeout=540)
        result.stdout = result.stdout.decode(errors="replace")
        result.stderr = result.stderr.decode(errors="replace")
        with open(os.path.join(self.work, "out", case + ".log"), "w") as log:
            log.write("exit %d\n--- stdout\n%s--- stderr\n%s" % (
                result.returncode, result.stdout, result.stderr))
        return result

    def file_key_args(self, p12="signer.p12"):
        return ["--pkcs12", os.path.join(self.pki, p12), "--ca-file",
                os.path.join(self.pki, "ca.pem")]

    def token_args(self):
        return ["--pkcs11-module", SOFTHSM_MODULE, "--key", TOKEN_KEY, "--certs",
                os.path.join(self.pki, "signer-chain.pem"), "--ca-file",
                os.path.join(self.pki, "ca.pem")]

    def token_env(self, pin):
        return {"KESTROVA_SIGN_PIN": pin,
                "SOFTHSM2_CONF": os.path.join(self.pki, "softhsm2.conf")}

    def osslsigncode_verify(self, path):
        ca = os.path.join(self.pki, "ca.pem")
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca,
                                 "-in", path], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=60)
        return result.returncode, result.stdout.decode(errors="replace")

    def removed_signature(self, path):
        removed = os.path.join(self.work, "out", "removed-" + os.path.basename(path))
        if os.path.exists(removed):
            os.remove(removed)
        subprocess.run(["osslsigncode", "remove-signature", "-in", path, "-out", removed],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       timeout=60)
        return read(removed)


def expect_signed(suite, case, result, authority):
    """A signed release: exit 0, the three files and their sums, a signature
    that verifies against the test CA with a verified timestamp."""
    out = suite.out(case)
    equal(result.returncode, 0, "exit code (stderr: %s)" % result.stderr.strip())
    equal(sorted(os.listdir(out)), sorted([PROGRAM, UNSIGNED, INFO, NOTICES, SBOM, SUMS]),
          "files written")
    sums = subprocess.run(["sha256sum", "--check", "--strict", SUMS], cwd=out,
                          capture_output=True)
    equal(sums.returncode, 0, "sha256sum --check in %s" % out)
    equal(sorted(line.split()[1] for line in read(os.path.join(out, SUMS)).decode().splitlines()),
          sorted([PROGRAM, UNSIGNED, INFO, NOTICES, SBOM]), "files in SHA256SUMS")
    check(os.path.join(out, PROGRAM) in result.stdout or out in result.stdout,
          "the output does not say where the files are: %r" % result.stdout)
    code, report = suite.osslsigncode_verify(os.path.join(out, PROGRAM))
    equal(code, 0, "osslsigncode verify against the test CA:\n" + report)
    for line in ("Timestamp Server Signature verification: ok", "Text description: Kestrova AI",
                 "URL description: https://kestrova.ai/"):
        check(line in report, "verify output lacks %r:\n%s" % (line, report))
    check(any(line.startswith("Message digest algorithm") and line.rstrip().endswith("SHA256")
              for line in report.splitlines()), "not a SHA-256 signature:\n" + report)
    check(authority.requests >= 1, "the time-stamping authority was never asked")
    check(read(os.path.join(out, PROGRAM)) != read(os.path.join(out, UNSIGNED)),
          "the signed program equals the unsigned one")


def expect_refused(suite, case, result, code, message):
    """A refusal: the exit code, the message on stderr, and an output folder
    with nothing in it (no signed, partial or earlier program)."""
    equal(result.returncode, code, "exit code (stderr: %s)" % result.stderr.strip())
    check(message in result.stderr, "stderr lacks %r: %r" % (message, result.stderr))
    equal(os.listdir(suite.out(case)), [], "files left in the output folder")


CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


@case
def file_key(suite, authority):
    result = suite.release("file_key", suite.file_key_args() + ["--tsa-url", authority.url],
                           {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")})
    expect_signed(suite, "file_key", result, authority)


@case
def token_key(suite, authority):
    result = suite.release("token_key", suite.token_args() + ["--tsa-url", authority.url],
                           suite.token_env(suite.secret("token-pin")))
    expect_signed(suite, "token_key", result, authority)
    equal(read(os.path.join(suite.out("token_key"), UNSIGNED)), read(suite.config["program"]),
          "unsigned release build against the windows preset's build")


@case
def no_key(suite, authority):
    result = suite.release("no_key", [])
    equal(result.returncode, 5, "exit code (stderr: %s)" % result.stderr.strip())
    check("UNSIGNED" in result.stderr, "stderr does not say UNSIGNED: %r" % result.stderr)
    equal(sorted(os.listdir(suite.out("no_key"))), sorted([UNSIGNED, INFO, NOTICES, SBOM, SUMS]),
          "files written")


@case
def unsigned_asked(suite, authority):
    result = suite.release("unsigned_asked", ["--unsigned"])
    equal(result.returncode, 0, "exit code (stderr: %s)" % result.stderr.strip())
    check("UNSIGNED" in result.stdout, "output does not say UNSIGNED: %r" % result.stdout)
    out = suite.out("unsigned_asked")
    equal(sorted(os.listdir(out)), sorted([UNSIGNED, INFO, NOTICES, SBOM, SUMS]), "files written")
    equal(read(os.path.join(out, UNSIGNED)), read(suite.config["program"]),
          "unsigned release build against the windows preset's build")


@case
def wrong_password(suite, authority):
    result = suite.release("wrong_password", suite.file_key_args() + ["--tsa-url", authority.url],
                           {"KESTROVA_SIGN_PASSWORD": "not-the-password"}, stale=True)
    expect_refused(suite, "wrong_password", result, 6, "wrong password")


@case
def wrong_pin(suite, authority):
    result = suite.release("wrong_pin", suite.token_args() + ["--tsa-url", authority.url],
                           suite.token_env("13131"), stale=True)
    expect_refused(suite, "wrong_pin", result, 6, "refused the PIN")


@case
def not_for_code_signing(suite, authority):
    result = suite.release("not_for_code_signing",
                           suite.file_key_args("no-codesign.p12") + ["--tsa-url", authority.url],
                           {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")})
    expect_refused(suite, "not_for_code_signing", result, 6, "not for code signing")
    equal(authority.requests, 0, "time-stamp requests")


@case
def timestamp_authority_down(suite, authority):
    # A port that was free a moment ago: nothing answers there.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    result = suite.release("timestamp_authority_down",
                           suite.file_key_args() + ["--tsa-url", "http://127.0.0.1:%d/" % port],
                           {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")})
    expect_refused(suite, "timestamp_authority_down", result, 7, "could not sign")


@case
def chain_not_trusted(suite, authority):
    # Signed and timestamped, but the chain does not lead to the CA that the
    # verification trusts: nothing may be published.
    ca = os.path.join(suite.pki, "ca.pem")
    result = suite.release("chain_not_trusted",
                           suite.file_key_args()[:2] + [
                               "--ca-file", os.path.join(suite.pki, "other-ca.pem"),
                               "--tsa-ca-file", ca, "--tsa-url", authority.url],
                           {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")})
    expect_refused(suite, "chain_not_trusted", result, 8, "does not verify")
    check(authority.requests >= 1, "the failure came before the signing")


@case
def dirty_tree(suite, authority):
    stray = os.path.join(suite.snapshot, "stray-file.txt")
    with open(stray, "w") as file:
        file.write("not committed\n")
    try:
        result = suite.release("dirty_tree", suite.file_key_args() + ["--tsa-url", authority.url],
                               {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")})
    finally:
        os.remove(stray)
    expect_refused(suite, "dirty_tree", result, 3, "the work tree has changes")
    check("stray-file.txt" in result.stderr, "the stray file is not named: %r" % result.stderr)


@case
def reproducible(suite, authority):
    """The release built from the snapshot (another folder) is the windows
    preset's program byte for byte, and so is the signed program once its
    signature is removed."""
    out = suite.out("file_key")
    program = read(suite.config["program"])
    check(suite.snapshot != suite.config["source_dir"], "the same folder")
    equal(hashlib.sha256(read(os.path.join(out, UNSIGNED))).hexdigest(),
          hashlib.sha256(program).hexdigest(), "unsigned release build against the preset's")
    equal(hashlib.sha256(suite.removed_signature(os.path.join(out, PROGRAM))).hexdigest(),
          hashlib.sha256(program).hexdigest(), "signed program without its signature")


@case
def program_image_signed(suite, authority):
    result = subprocess.run(
        ["/usr/bin/python3", suite.config["check_program_image"],
         os.path.join(suite.out("file_key"), PROGRAM), suite.config["twin"],
         suite.config["resources"], "--signed"], capture_output=True, timeout=120)
    sys.stdout.write(result.stderr.decode(errors="replace"))
    equal(result.returncode, 0, "check_program_image.py on the signed program")


@case
def windows_trust(suite, authority):
    """Windows' own check (WinVerifyTrust under Wine) of the signed program,
    of it with one byte flipped, and of the unsigned build."""
    out = suite.out("file_key")
    folder = os.path.join(suite.work, "out", "trust")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    signed = read(os.path.join(out, PROGRAM))
    flipped = bytearray(signed)
    flipped[len(read(os.path.join(out, UNSIGNED))) // 2] ^= 0x01
    files = {"signed.exe": signed, "flipped.exe": bytes(flipped),
             "unsigned.exe": read(os.path.join(out, UNSIGNED))}
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)
    output = os.path.join(folder, "verdicts.txt")
    with open(output, "wb") as file:
        result = subprocess.run(
            [suite.config["wine_run"], suite.config["test_env"], suite.config["verify_trust"]] +
            [windows_path(os.path.join(folder, name)) for name in files],
            stdin=subprocess.DEVNULL, stdout=file, stderr=subprocess.DEVNULL, timeout=120)
    equal(result.returncode, 0, "verify_trust.exe exit code")
    verdicts = {}
    for line in read(output).decode("utf-8", errors="replace").splitlines():
        value, path = line.strip().split(" ", 1)
        verdicts[path.rsplit("\\", 1)[-1]] = int(value, 16)
    equal(verdicts, {"signed.exe": 0, "flipped.exe": TRUST_E_BAD_DIGEST,
                     "unsigned.exe": TRUST_E_NOSIGNATURE}, "WinVerifyTrust")


def main():
    options = driver_options(CASES)
    with open(options.config) as file:
        suite = Suite(json.load(file))
    hard_limit(590)
    if options.action == "setup":
        suite.setup()
        return 0
    authority = TimeStampAuthority(suite.pki).start()
    try:
        CASES[options.name](suite, authority)
    except Failed as error:
        print("FAILED %s: %s" % (options.name, error))
        log = os.path.join(suite.work, "out", options.name + ".log")
        if os.path.exists(log):
            print("log: " + log)
        return 1
    finally:
        authority.stop()
    print("passed %s" % options.name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
