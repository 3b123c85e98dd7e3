#!/usr/bin/python3
"""Tests of scripts/release with real tools: openssl, osslsigncode, SoftHSM2,
Wine.

  release_test.py --config FILE setup      signing material, source snapshot
  release_test.py --config FILE validator  the CycloneDX validator from npm
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
import datetime
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import uuid

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
# The packages whose code the program holds: the archives of the link and
# the header-only nlohmann/json, with the mingw-w64 headers.
THIRD_PARTY = ["g++-mingw-w64-x86-64-win32", "gcc-mingw-w64-x86-64-win32", "libsodium",
               "mingw-w64-common", "mingw-w64-x86-64-dev", "nlohmann-json3-dev"]
SODIUM_VERSION = "1.0.18-1+deb12u1"
LICENCES = {"libsodium": "ISC", "nlohmann-json3-dev": "MIT", "mingw-w64-common": "ZPL-2.1",
            "mingw-w64-x86-64-dev": "ZPL-2.1"}
GCC_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"
VALIDATOR_LIBRARY = "10.3.0"
SIGNER = "/O=Kestrova Test/CN=Kestrova Test Code Signing"


def read(path):
    with open(path, "rb") as file:
        return file.read()


def dpkg(package, field="Version"):
    return subprocess.run(["dpkg-query", "-W", "-f=${%s}" % field, package], check=True,
                          capture_output=True, text=True).stdout


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

    def validator(self):
        """The published CycloneDX schemas with their validator, as locked in
        tests/release/sbom-validator, installed from the npm registry."""
        if not shutil.which("npm"):
            raise SystemExit("npm is missing: the release tests need Node.js 20.18 or later "
                             "with npm for the CycloneDX validator")
        folder = os.path.join(self.work, "sbom-validator")
        os.makedirs(folder, exist_ok=True)
        for name in ("package.json", "package-lock.json", "validate_sbom.cjs"):
            shutil.copy(os.path.join(self.config["sbom_validator"], name), folder)
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=folder,
                       check=True, stdin=subprocess.DEVNULL, timeout=280)

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
    # Two runs of the same commit (no_key ran before): the same notices and
    # bill of materials, byte for byte.
    for name in (NOTICES, SBOM):
        equal(read(os.path.join(out, name)), read(os.path.join(suite.out("no_key"), name)),
              name + " of two runs")


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


def sums_of(folder):
    """SHA256SUMS made anew for the files it lists, as a forger would."""
    names = [line.split("  ", 1)[1] for line in read(os.path.join(folder, SUMS)).decode()
             .splitlines()]
    lines = ["%s  %s" % (hashlib.sha256(read(os.path.join(folder, n))).hexdigest(), n)
             for n in names]
    with open(os.path.join(folder, SUMS), "w") as file:
        file.write("\n".join(lines) + "\n")


def flip(path, offset):
    data = bytearray(read(path))
    data[offset] ^= 0x01
    with open(path, "wb") as file:
        file.write(data)


def code_offset(path):
    import pefile  # Debian's python3-pefile

    image = pefile.PE(path, fast_load=True)
    text = next(s for s in image.sections if s.Name.rstrip(b"\0") == b".text")
    return text.PointerToRawData + text.SizeOfRawData // 2


def signer_signature_offset(path):
    """A byte of the signer's RSA signature: the first 256-byte OCTET STRING
    of the certificate table (the certificates' own signatures are BIT
    STRINGs; the timestamp's signature comes after the signer's)."""
    import pefile

    image = pefile.PE(path, fast_load=True)
    table = image.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    blob = read(path)[table.VirtualAddress:table.VirtualAddress + table.Size]
    return table.VirtualAddress + blob.index(b"\x04\x82\x01\x00") + 4 + 128


@case
def notices(suite, authority):
    """THIRD-PARTY-NOTICES.txt of the signed release: a section for every
    package whose archive or object file the link map shows, with the
    package's version and its licence text as the package ships it, and no
    other section than the expected packages."""
    text = read(os.path.join(suite.out("file_key"), NOTICES)).decode()
    build = os.path.join(suite.snapshot, "build", "release-build")
    link_map = read(os.path.join(build, "third-party", "KestrovaAI-setup.map")).decode(
        errors="replace")
    linked = set(os.path.normpath(p) for p in re.findall(r"(/[^\s()]+\.a)\(", link_map) +
                 re.findall(r"\s(/[^\s()]+\.o)\s*$", link_map, re.M))
    check(len(linked) >= 10, "archives and objects of the map: %r" % sorted(linked))
    sodium = os.path.join(suite.snapshot, "build", "deps", "libsodium-windows")
    sections = dict((name, version) for version, name in re.findall(
        r"^version: (\S+)\npackage: (\S+) \(", text, re.M))
    equal(sorted(sections), THIRD_PARTY, "packages with a notice")
    for path in sorted(linked):
        if path.startswith(sodium + os.sep):
            package, version = "libsodium", SODIUM_VERSION
        else:
            owner = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
            equal(owner.returncode, 0, "dpkg-query -S %s" % path)
            package = owner.stdout.split(":")[0]
            version = dpkg(package)
        equal(sections.get(package), version, "notice of %s (%s)" % (package, path))
    for package in THIRD_PARTY:
        licence = ("/usr/share/doc/%s/copyright" % package if package != "libsodium" else
                   os.path.join(suite.config["source_dir"], "build", "deps", "libsodium-src",
                                "src", "LICENSE"))
        check(read(licence).decode().rstrip() in text, "the notices lack the text of " + licence)
    for needed in ("GCC RUNTIME LIBRARY EXCEPTION",
                   read("/usr/share/common-licenses/GPL-3").decode().rstrip()):
        check(needed in text, "the notices lack %r" % needed[:60])
    # No folder of the release's machine in them: the notices of the windows
    # preset's build in the source folder are the same bytes.
    preset = os.path.dirname(os.path.dirname(suite.config["program"]))
    again = os.path.join(suite.work, "out", "preset-notices.txt")
    result = subprocess.run(
        ["/usr/bin/python3", os.path.join(suite.config["source_dir"], "scripts", "third-party"),
         "notices", "--build", preset, "--source", suite.config["source_dir"], "--out", again,
         "--parts", os.path.join(suite.work, "out", "preset-parts.json")],
        capture_output=True, text=True, timeout=120)
    equal(result.returncode, 0, "notices of the preset's build (stderr: %s)" % result.stderr)
    check(read(again).decode() == text, "the notices differ between the two folders")


@case
def no_notice(suite, authority):
    """Code from a package without a notice, or from no package, stops the
    notices (and so the release): each is named, exit 3."""
    build = os.path.join(suite.snapshot, "build", "release-build")
    link_map = read(os.path.join(build, "third-party", "KestrovaAI-setup.map")).decode(
        errors="replace")
    line = next(l for l in link_map.splitlines()
                if l.startswith(" .text") and "libmingwex.a(" in l and " 0x0000000140" in l)
    stray = os.path.join(suite.work, "out", "libstray.a")
    rows = [
        ("/usr/lib/x86_64-linux-gnu/libc.a", "third-party: error: no licence notice for code in "
         "the exe from: libc6-dev (/usr/lib/x86_64-linux-gnu/libc.a) (scripts/lib/notices.py "
         "lists the packages with their notices)\n"),
        (stray, "third-party: error: code in the exe that comes from no Debian package and no "
         "source package built here, so it has no licence notice: %s\n" % stray),
    ]
    for archive, message in rows:
        path = os.path.join(suite.work, "out", "extra.map")
        extra = re.sub(r"/\S+/libmingwex\.a\(", archive + "(", line)
        with open(path, "w") as file:
            file.write(link_map.replace(line, line + "\n" + extra, 1))
        result = subprocess.run(
            ["/usr/bin/python3", os.path.join(suite.snapshot, "scripts", "third-party"),
             "notices", "--build", build, "--source", suite.snapshot, "--map", path, "--out",
             os.path.join(suite.work, "out", "extra-notices.txt"), "--parts",
             os.path.join(suite.work, "out", "extra-parts.json")],
            capture_output=True, text=True, timeout=120)
        equal((result.returncode, result.stderr), (3, message), "notices with " + archive)


@case
def dependency_without_notice(suite, authority):
    """A commit whose notices table lacks a package that the program holds
    (as when a new dependency comes in): the release stops with exit 9
    before signing and leaves nothing in its output folder."""
    table = os.path.join(suite.snapshot, "scripts", "lib", "notices.py")
    original = read(table).decode()
    line = '    ("deb", "nlohmann-json3-dev"): ("nlohmann/json", "MIT", "MIT"),\n'
    check(line in original, "no nlohmann/json line in " + table)
    git = ["git", "-C", suite.snapshot, "-c", "user.name=release test",
           "-c", "user.email=release-test@localhost"]
    with open(table, "w") as file:
        file.write(original.replace(line, ""))
    subprocess.run(git + ["commit", "-q", "-a", "-m", "no notice for nlohmann/json"], check=True)
    try:
        result = suite.release("dependency_without_notice",
                               suite.file_key_args() + ["--tsa-url", authority.url],
                               {"KESTROVA_SIGN_PASSWORD": suite.secret("p12-password")}, stale=True)
    finally:
        subprocess.run(git + ["reset", "-q", "--hard", "HEAD~1"], check=True)
    expect_refused(suite, "dependency_without_notice", result, 9,
                   "release: error: a component of the program has no licence notice (see above)\n")
    check(result.stderr.startswith("third-party: error: no licence notice for code in the exe "
                                   "from: nlohmann-json3-dev (/usr/include/nlohmann/"),
          "stderr does not name the package: %r" % result.stderr[:300])
    equal(authority.requests, 0, "time-stamp requests")


@case
def sbom(suite, authority):
    """The signed release's bill of materials: valid against the published
    CycloneDX schema, the exe's real hashes, each package with dpkg's version
    and a package URL that reads back to it, the commit's time and a serial
    number of the exe's hash."""
    out = suite.out("file_key")
    path = os.path.join(out, SBOM)
    folder = os.path.join(suite.work, "sbom-validator")
    result = subprocess.run(["node", os.path.join(folder, "validate_sbom.cjs"), path],
                            cwd=folder, capture_output=True, text=True, timeout=120)
    equal(result.returncode, 0, "validate_sbom.cjs (stderr: %s)" % result.stderr)
    validation = json.loads(result.stdout)
    equal((validation["library"], validation["errors"]), (VALIDATOR_LIBRARY, None),
          "@cyclonedx/cyclonedx-library and its schema errors")
    bom = json.loads(read(path))
    signed = hashlib.sha256(read(os.path.join(out, PROGRAM))).hexdigest()
    unsigned = hashlib.sha256(read(os.path.join(out, UNSIGNED))).hexdigest()
    program = bom["metadata"]["component"]
    equal((program["name"], program["version"], program["hashes"]),
          (PROGRAM, "1.0.0", [{"alg": "SHA-256", "content": signed}]), "the program")
    commit = read(os.path.join(out, INFO)).decode().split("\n")[0].split()[1]
    equal(program["properties"], [{"name": "kestrova:commit", "value": commit},
                                  {"name": "kestrova:signed", "value": "true"},
                                  {"name": "kestrova:unsigned-sha256", "value": unsigned}],
          "the program's properties")
    seconds = subprocess.run(["git", "-C", suite.snapshot, "show", "-s", "--format=%ct", commit],
                             check=True, capture_output=True, text=True).stdout
    equal(bom["metadata"]["timestamp"], datetime.datetime.fromtimestamp(
        int(seconds), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"), "time")
    equal(bom["serialNumber"], "urn:uuid:%s" % uuid.uuid5(
        uuid.uuid5(uuid.NAMESPACE_DNS, "kestrova.ai"), signed), "serial number")
    purls = dict((p["name"], p) for p in validation["purls"])
    names = [c["name"] for c in bom["components"]]
    equal(names, THIRD_PARTY, "components")
    for component in bom["components"]:
        name = component["name"]
        version = SODIUM_VERSION if name == "libsodium" else dpkg(name)
        arch = "source" if name == "libsodium" else dpkg(name, "Architecture")
        licence = LICENCES.get(name)
        equal(component["licenses"], [{"license": {"id": licence}}] if licence else
              [{"expression": GCC_LICENCE}], "licence of " + name)
        equal(component["version"], version, "version of " + name)
        read_back = purls[name]
        equal((read_back["type"], read_back["namespace"], read_back["purl_name"],
               read_back["version"], read_back["qualifiers"]),
              ("deb", "debian", name, version, {"arch": arch, "distro": "debian-12"}),
              "package URL of " + name)
    tools = dict((t["name"], t["version"]) for t in bom["metadata"]["tools"]["components"])
    for tool in ("gcc-mingw-w64-x86-64-win32", "binutils-mingw-w64-x86-64", "cmake",
                 "osslsigncode"):
        equal(tools.get(tool), dpkg(tool), "tool " + tool)


@case
def verify_release(suite, authority):
    """scripts/verify-release on the signed release and on tampered copies;
    the first run builds the commit, the others reuse that build. No run
    leaves a worktree or a temporary file."""
    published = suite.out("file_key")
    commit = read(os.path.join(published, INFO)).decode().split("\n")[0].split()[1]
    ca = os.path.join(suite.pki, "ca.pem")
    root = os.path.join(suite.work, "out", "verify")
    shutil.rmtree(root, ignore_errors=True)
    temporary = os.path.join(root, "tmp")
    os.makedirs(temporary)
    absent = hashlib.sha1(b"no such commit").hexdigest()
    offset = code_offset(os.path.join(published, PROGRAM))
    not_confirmed = "%s is not confirmed as the build of commit %s:\n" % (PROGRAM, commit)
    code_differs = ("differs: %s without its signature differs from the build of commit %s at "
                    "offset %d (0x%x), in section .text (the PE checksum in the headers differs with "
                    "it)\n" % (PROGRAM, commit, offset, offset))
    mismatch = ("differs: the signature does not verify against %s (osslsigncode: Calculated "
                "message digest MISMATCH; Signature verification: failed)\n" % ca)
    tampered_sum = hashlib.sha256(read(os.path.join(published, PROGRAM))).hexdigest()

    def code_flipped(folder, remake_sums):
        flip(os.path.join(folder, PROGRAM), offset)
        if remake_sums:
            sums_of(folder)

    def signature_flipped(folder):
        exe = os.path.join(folder, PROGRAM)
        flip(exe, signer_signature_offset(exe))
        sums_of(folder)

    def other_commit(folder):
        info = os.path.join(folder, INFO)
        text = read(info).decode()
        with open(info, "w") as file:
            file.write(text.replace(commit, absent))
        sums_of(folder)

    # name, change of the copy, exit code, stdout, stderr's last line
    rows = [
        ("published", None, 0, "%s is the build of commit %s, signed by %s, timestamped " % (
            PROGRAM, commit, SIGNER), "verify-release: building commit %s in a temporary "
         "worktree" % commit),
        ("code_flipped", lambda f: code_flipped(f, True), 1,
         not_confirmed + mismatch + code_differs, "verify-release: using this machine's earlier build of commit " + commit),
        ("code_flipped_old_sums", lambda f: code_flipped(f, False), 1,
         None, "verify-release: using this machine's earlier build of commit " + commit),
        ("signature_flipped", signature_flipped, 1, not_confirmed + "differs: the signature "
         "does not verify against %s (osslsigncode: File's message digest verification: failed; "
         "Timestamp Server Signature verification: failed; Signature verification: failed)\n" % ca,
         "verify-release: using this machine's earlier build of commit " + commit),
        ("other_commit", other_commit, 4, "", "verify-release: refused: commit %s (%s) is not "
         "in the repository %s: fetch it (git fetch origin %s) or check from a clone that has "
         "it" % (absent, INFO, suite.snapshot, absent)),
    ]
    script = os.path.join(suite.snapshot, "scripts", "verify-release")
    environment = {k: v for k, v in os.environ.items() if not k.startswith("KESTROVA_")}
    environment["TMPDIR"] = temporary
    for name, change, code, stdout, stderr in rows:
        folder = os.path.join(root, name)
        shutil.copytree(published, folder)
        if change:
            change(folder)
        result = subprocess.run([script, "--ca-file", ca, folder], env=environment,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=900)
        with open(os.path.join(root, name + ".log"), "w") as log:
            log.write("exit %d\n--- stdout\n%s--- stderr\n%s" % (
                result.returncode, result.stdout, result.stderr))
        equal(result.returncode, code, "%s: exit code (stderr: %s)" % (name, result.stderr))
        if name == "published":
            check(re.fullmatch(re.escape(stdout) + r"[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d "
                               r"\d{4} GMT\n", result.stdout), "%s: verdict %r" % (
                                   name, result.stdout))
        elif name == "code_flipped_old_sums":
            equal(result.stdout, not_confirmed + "differs: %s: SHA-256 %s, but %s gives %s\n" % (
                PROGRAM, hashlib.sha256(read(os.path.join(folder, PROGRAM))).hexdigest(), SUMS,
                tampered_sum) + mismatch + code_differs, name + ": stdout")
        else:
            equal(result.stdout, stdout, name + ": stdout")
        lines = result.stderr.splitlines()
        check(lines and lines[-1].startswith(stderr), "%s: stderr ends %r" % (name, lines[-1:]))
        equal(os.listdir(temporary), [], name + ": files left in the temporary folder")
        worktrees = subprocess.run(["git", "-C", suite.snapshot, "worktree", "list",
                                    "--porcelain"], check=True, capture_output=True,
                                   text=True).stdout
        equal(re.findall(r"^worktree (.+)$", worktrees, re.M), [suite.snapshot],
              name + ": worktrees")
    for words, code, message in (
            ([], 2, "verify-release: error: no release folder given (see --help)\n"),
            ([os.path.join(root, "none")], 3,
             "verify-release: error: cannot read the release folder %s\n" % os.path.join(
                 root, "none"))):
        result = subprocess.run([script, *words], env=environment, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=60)
        equal((result.returncode, result.stdout, result.stderr), (code, "", message),
              "verify-release %r" % words)


def main():
    options = driver_options(CASES)
    with open(options.config) as file:
        suite = Suite(json.load(file))
    hard_limit(590)
    if options.action == "setup":
        suite.setup()
        return 0
    if options.action == "validator":
        suite.validator()
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
