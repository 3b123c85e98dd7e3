"""kestrova-channel publish, rollback and check --json/--resolve on a web root
that Debian's nginx serves with docs/deploy/nginx.conf (tests/tools/
nginx_server.py). The cases run on the Run of channel_tool_test.py; each
refusal compares every file and folder of its root before and after."""

import email.utils
import fcntl
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from nginx_server import NginxServer  # noqa: E402

DOCUMENT = "updates/kestrova-desk/latest.json"
PREVIOUS = DOCUMENT + ".previous"
NAME = "KestrovaAI-install.exe"
SECOND_COMMENT = "Kestrova AI 1.0.1"
DOCUMENT_CACHE, INSTALLER_CACHE = "public, max-age=60", "public, max-age=31536000, immutable"
AT_MOST = "; keep it at 300 s or less"
A_DAY = email.utils.formatdate(time.time() + 86400, usegmt=True)
# The channel document's cache headers: the deploy config's, then variants
# (the line that replaces its Cache-Control line) with the warnings of check.
WARNINGS = [
    ("the deploy config", {"cache-control": DOCUMENT_CACHE}, []),
    ("a day's max-age", {"cache-control": "public, max-age=86400"},
     ["channel document: Cache-Control allows caching for 86400 s (max-age=86400)" + AT_MOST]),
    ("five minutes", {"cache-control": "max-age=300"}, []),
    ("s-maxage before max-age", {"cache-control": "max-age=60, s-maxage=301"},
     ["channel document: Cache-Control allows caching for 301 s (s-maxage=301)" + AT_MOST]),
    ("Expires a day ahead", {"expires": A_DAY},
     ["channel document: Expires allows caching for SPAN s" + AT_MOST]),
    ("no cache header", {}, ["channel document: no Cache-Control or Expires header; caches "
                             "choose how long to keep it"]),
]
VARIANTS = [f'add_header Cache-Control "{headers["cache-control"]}";' if "cache-control" in
            headers else f'add_header Expires "{headers["expires"]}";' if headers else ""
            for _, headers, _ in WARNINGS[1:]]
NOW = "(a date within two minutes)"
UMASK = os.umask(0o022)
os.umask(UMASK)
UNREADABLE = "канал обновлений не читается"
NO_INSTALLER = "в канале обновлений нет установщика"
MISMATCH = "подпись установщика не сошлась, файл испорчен или подменен"
WRONG_KEY = "The signature was created with a different key than the one provided"


def snapshot(root):
    """Every folder and file under ROOT with its bytes; None without ROOT."""
    if not os.path.isdir(root):
        return None
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders:
            found[os.path.relpath(os.path.join(folder, name), root) + "/"] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as file:
                found[os.path.relpath(os.path.join(folder, name), root)] = file.read()
    return found


def content_name(name, data):
    hex16 = hashlib.sha256(data).hexdigest()[:16]
    dot = name.rfind(".")
    return f"{name}-{hex16}" if dot <= 0 else f"{name[:dot]}-{hex16}{name[dot:]}"


def expect(run, case, result, code, stdout, stderr_has=(), stderr=None):
    """Exit code, the whole stdout, stderr's texts (or all of it); every line
    of a refusal's stderr names the tool."""
    problems = []
    if result.returncode != code:
        problems.append(f"exit code {result.returncode}, expected {code}")
    if result.stdout != (stdout + "\n" if stdout else ""):
        problems.append(f"stdout {result.stdout!r}, expected {stdout!r}")
    problems += [f"stderr lacks {text!r}" for text in stderr_has if text not in result.stderr]
    if stderr is not None and result.stderr != stderr:
        problems.append(f"stderr {result.stderr!r}, expected {stderr!r}")
    # Advice may go on with the commands to run, on lines of their own.
    if code and not result.stderr.startswith("kestrova-channel: "):
        problems.append("stderr does not start with 'kestrova-channel: '")
    run.report(case, problems, result.stderr)


class Publishing:
    def __init__(self, run, nginx):
        self.run, self.nginx = run, nginx
        self.root = run.path("www")
        self.base = f"https://cdn.kestrova.ai:{nginx.ports[0]}"
        self.resolve = [f"cdn.kestrova.ai:{port}:127.0.0.1" for port in nginx.ports]
        # Two releases of one file name: the run's installer and other bytes.
        self.releases = [self.release("r1", run.installer, run.read("inst.minisig")),
                         self.release("r2", os.urandom(len(run.installer) // 2 + 3))]

    def release(self, folder, data, signature=None):
        path = self.run.path(f"{folder}/{NAME}")
        os.makedirs(os.path.dirname(path))
        with open(path, "wb") as file:
            file.write(data)
        if signature is None:
            subprocess.run(["minisign", "-S", "-s", self.run.path("product.key"), "-m", path,
                            "-t", SECOND_COMMENT], check=True, capture_output=True, timeout=60)
        else:
            with open(path + ".minisig", "wb") as file:
                file.write(signature)
        name = content_name(NAME, data)
        return {"path": path, "signature_file": path + ".minisig", "data": data, "name": name,
                "url": f"{self.base}/dl/{name}",
                "comment": SECOND_COMMENT if signature is None else self.run.comment,
                "signature": self.run.signature(path + ".minisig")}

    def publish(self, release, root=None, base=None):
        return self.run.tool_run("publish", "--root", root or self.root, "--installer",
                                 release["path"], "--signature", release["signature_file"],
                                 "--base-url", base or self.base, "--public-key",
                                 self.run.key_line)

    def rollback(self):
        return self.run.tool_run("rollback", "--root", self.root, "--public-key",
                                 self.run.key_line)

    def line(self, verb, release, root=None):
        where = "" if verb == "verified" else f"{root or self.root}/{DOCUMENT}: "
        return (f"{verb}: {where}{release['url']}, "
                f"{len(release['data'])} bytes, key {self.run.key_id}, "
                f"trusted comment: {release['comment']}")

    def file(self, name):
        with open(os.path.join(self.root, name), "rb") as file:
            return file.read()

    def document(self, release):
        """The seed document with the release's entry, members in order."""
        document = json.loads(self.seed)
        document["platforms"]["windows-x86_64"].update(url=release["url"],
                                                       signature=release["signature"])
        return json.dumps(document)

    def published(self, case, release, previous, installers, document=None):
        """ROOT after a publish or rollback of RELEASE: its document (or
        DOCUMENT byte for byte), PREVIOUS byte for byte, the INSTALLERS in dl/
        and nothing else."""
        found = snapshot(self.root)
        written = found.get(DOCUMENT) or b"{}"
        problems = [] if (written == document if document else json.dumps(
            json.loads(written)) == self.document(release)) else [f"document {written!r}"]
        layout = {"dl/": None, "updates/": None, "updates/kestrova-desk/": None,
                  DOCUMENT: written, PREVIOUS: previous,
                  **{f"dl/{r['name']}": r["data"] for r in installers}}
        if found != layout:
            problems.append(f"root holds {sorted(found)}, expected {sorted(layout)}" if
                            sorted(found) != sorted(layout) else "a file's bytes differ")
        # Readable by the web server as a copy by cp would be (the umask's).
        modes = {name: os.stat(os.path.join(self.root, name)).st_mode & 0o7777
                 for name in layout if name in found and not name.endswith("/")}
        if set(modes.values()) != {0o666 & ~UMASK}:
            problems.append(f"modes {modes}")
        self.run.report(case, problems)

    def served(self, url, name, headers):
        """What check --json reports of a file of ROOT that nginx served with
        the cache HEADERS."""
        stat = os.stat(os.path.join(self.root, name))
        return {"url": url, "status": 200, "size": stat.st_size, "headers": {
            **headers, "date": NOW, "etag": f'"{int(stat.st_mtime):x}-{stat.st_size:x}"',
            "last-modified": email.utils.formatdate(stat.st_mtime, usegmt=True)}}

    def expect_json(self, case, result, code, expected, stderr=None):
        problems = [] if result.returncode == code else [f"exit code {result.returncode}"]
        try:
            document = json.loads(result.stdout)
            for part in ("channel", "installer"):
                headers = (document.get(part) or {}).get("headers", {})
                if "date" in headers and abs(email.utils.parsedate_to_datetime(
                        headers["date"]).timestamp() - time.time()) < 120:
                    headers["date"] = NOW
            if document != expected:
                problems.append(f"document {document!r}, expected {expected!r}")
        except (ValueError, TypeError, AttributeError) as error:
            problems.append(f"stdout {result.stdout!r} is no JSON document ({error})")
        if stderr is not None and result.stderr != stderr:
            problems.append(f"stderr {result.stderr!r}, expected {stderr!r}")
        self.run.report(case, problems, result.stderr)

    def check(self, port, *extra):
        resolves = [arg for value in self.resolve for arg in ("--resolve", value)]
        return self.run.check(f"https://cdn.kestrova.ai:{port}/{DOCUMENT}", *resolves, *extra)

    def check_cases(self, release):
        """check --json of the deploy config and of its variants (WARNINGS),
        each warning on stderr too; nginx's log of the first."""
        for port, (case, headers, warnings) in zip(self.nginx.ports, WARNINGS):
            first = len(self.nginx.access_log())
            result = self.check(port, "--json")
            try:  # Expires - Date, both as the tool reports them
                got = json.loads(result.stdout)["channel"]["headers"]
                span = int(email.utils.parsedate_to_datetime(got["expires"]).timestamp()
                           - email.utils.parsedate_to_datetime(got["date"]).timestamp())
            except (ValueError, KeyError, TypeError):
                span = None
            warnings = [text.replace("SPAN", str(span)) for text in warnings]
            self.expect_json(f"check --json --resolve: {case}", result, 0, {
                "channel": self.served(f"https://cdn.kestrova.ai:{port}/{DOCUMENT}", DOCUMENT,
                                       headers),
                "installer": self.served(release["url"], f"dl/{release['name']}",
                                         {"cache-control": INSTALLER_CACHE}),
                "keyId": self.run.key_id, "trustedComment": release["comment"],
                "warnings": warnings, "verdict": "verified", "failure": None, "exitCode": 0},
                stderr="".join(f"kestrova-channel: warning: {text}\n" for text in warnings))
            if port == self.nginx.ports[0]:
                seen = [(e["method"], e["uri"], e["status"], e["bytes"], e["cacheControl"])
                        for e in self.nginx.access_log()[first:]]
                wanted = [("GET", f"/{DOCUMENT}", 200, len(self.file(DOCUMENT)), DOCUMENT_CACHE),
                          ("GET", f"/dl/{release['name']}", 200, len(release["data"]),
                           INSTALLER_CACHE)]
                self.run.report("check: nginx's access log",
                                [] if seen == wanted else [f"log {seen}"])
        channel = f"https://cdn.kestrova.ai:{self.nginx.ports[0]}/{DOCUMENT}"
        self.expect_json("check --json: the edge name without --resolve", self.run.check(
            channel, "--json"), 1, {
                "channel": {"url": channel, "status": 0, "size": 0, "headers": {}},
                "installer": None, "keyId": self.run.key_id, "trustedComment": None,
                "warnings": [], "verdict": "refused",
                "failure": "сервер kestrova.ai недоступен (код 6)", "exitCode": 1})
        for case, value in (("without an address", f"cdn.kestrova.ai:{self.nginx.ports[0]}"),
                            ("with a port that is no number", "cdn.kestrova.ai:b:127.0.0.1"),
                            ("with an empty address", "cdn.kestrova.ai:443:")):
            result = self.run.check(channel, "--resolve", value)
            self.run.report(f"check: --resolve {case}", [] if (
                result.returncode, result.stdout) == (2, "") and
                f"--resolve {value}: not HOST:PORT:ADDRESS" in result.stderr
                else [f"exit {result.returncode}, stderr {result.stderr!r}"])

    def refusals(self, first, second, doc1, doc2):
        """Each on a root of its own (None: the published one), left as it was."""
        altered = bytearray(first["data"])
        altered[7] ^= 0x01
        previous = json.loads(doc1)
        previous["platforms"]["windows-x86_64"]["url"] = f"{self.base}/downloads/{NAME}"
        at_doc2 = {DOCUMENT: doc2, f"dl/{second['name']}": second["data"]}
        taken = content_name("taken.exe", first["data"])
        shutil.copy(first["path"], self.run.path("taken.exe"))
        run_file = self.run.path

        def publish(base=self.base, **release):
            return ["publish", "--root", "ROOT", "--installer", release.get("path", first["path"]),
                    "--signature", release.get("signature", first["signature_file"]),
                    "--base-url", base]
        rollback = ["rollback", "--root", "ROOT"]
        rows = [
            ("base-url not https", None, publish("http://cdn.kestrova.ai"), 1,
             "the installer's address is not https", ["is not an https address"]),
            ("base-url with a query", None, publish(self.base + "/?v=2"), 2, "", ["--base-url"]),
            ("base-url with a fragment", None, publish(self.base + "#a"), 2, "", ["--base-url"]),
            ("another key's signature", None, publish(signature=run_file("other.minisig")), 1,
             WRONG_KEY, ["kestrova-channel sign --installer"]),
            ("installer does not match", None, publish(path=run_file("altered.bin")), 1,
             MISMATCH, ["kestrova-channel sign --installer"]),
            ("name taken by other bytes", {f"dl/{taken}": b"other bytes"},
             publish(path=run_file("taken.exe")), 3, "",
             [f"ROOT/dl/{taken} already holds other bytes"]),
            ("installer missing", None, publish(path=run_file("none.exe")), 3, "",
             [run_file("none.exe") + ": No such file or directory"]),
            ("signature missing", None, publish(signature=run_file("none.minisig")), 3, "",
             [run_file("none.minisig") + ": No such file or directory"]),
            ("root missing", "missing", publish(), 3, "", ["ROOT: No such file or directory"]),
            ("existing channel unreadable", {DOCUMENT: b'{"platforms": '}, publish(), 3, "",
             [UNREADABLE]),
            ("no previous document", at_doc2, rollback, 3, "",
             [f"ROOT/{PREVIOUS}: No such file or directory", "nothing to roll back to"]),
            ("earlier installer missing", {**at_doc2, PREVIOUS: doc1}, rollback, 3, "",
             [f"latest.json.previous names {first['url']}, but ROOT/dl/{first['name']} is "
              "missing", "nothing was changed"]),
            ("previous names no installer of dl/", {**at_doc2, PREVIOUS: json.dumps(previous)},
             rollback, 3, "", ["which is not an installer in ROOT/dl/"]),
            ("previous unreadable", {**at_doc2, PREVIOUS: b"{"}, rollback, 1,
             UNREADABLE, ["nothing was changed"]),
            ("previous without an installer", {**at_doc2, PREVIOUS: b'{"platforms": {}}'},
             rollback, 1, NO_INSTALLER, ["nothing was changed"]),
            ("earlier installer does not verify",
             {**at_doc2, PREVIOUS: doc1, f"dl/{first['name']}": bytes(altered)}, rollback, 1,
             MISMATCH, ["nothing was changed"]),
        ]
        for number, (case, files, arguments, code, stdout, stderr_has) in enumerate(rows):
            root = self.root if files is None else run_file(f"roots/{number}")
            for name, data in (files if isinstance(files, dict) else {}).items():
                os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
                with open(os.path.join(root, name), "wb") as file:
                    file.write(data if isinstance(data, bytes) else data.encode())
            before = snapshot(root)
            result = self.run.tool_run(*[a.replace("ROOT", root) for a in arguments],
                                       "--public-key", self.run.key_line)
            verb = arguments[0]
            expect(self.run, f"{verb} refuses: {case}", result, code, stdout,
                   [text.replace("ROOT", root) for text in stderr_has])
            self.run.report(f"{verb} refuses: {case}: root unchanged",
                            [] if snapshot(root) == before else ["the root changed"])
        # A root that another publish or rollback holds: its lock on the folder.
        held = os.open(self.root, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(held, fcntl.LOCK_EX)
            before = snapshot(self.root)
            for arguments in (publish(), rollback):
                result = self.run.tool_run(*[a.replace("ROOT", self.root) for a in arguments],
                                           "--public-key", self.run.key_line)
                expect(self.run, f"{arguments[0]} refuses: a root held by another", result, 3,
                       "", [f"{self.root}: another publish or rollback is at work there; "
                            "nothing was changed"])
            self.run.report("a root held by another: unchanged",
                            [] if snapshot(self.root) == before else ["the root changed"])
        finally:
            os.close(held)


def publish_cases(run, certs, deploy_conf):
    with NginxServer(run.path("nginx"), deploy_conf, run.path("www"),
                     os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"),
                     VARIANTS) as nginx:
        p = Publishing(run, nginx)
        first, second = p.releases
        # An existing document with more members and platforms than make's.
        p.seed = json.dumps({"version": "0.9", "platforms": {
            "macos-arm64": {"url": "https://cdn.kestrova.ai/mac.dmg", "signature": "bWFj"},
            "windows-x86_64": {"url": "https://cdn.kestrova.ai/old.exe", "size": 3,
                               "signature": first["signature"]}}}, indent=4)
        os.makedirs(os.path.join(p.root, os.path.dirname(DOCUMENT)))
        with open(os.path.join(p.root, DOCUMENT), "w", encoding="utf-8") as file:
            file.write(p.seed)

        expect(run, "publish", p.publish(first), 0, p.line("published", first), stderr="")
        p.published("publish: the root", first, p.seed.encode(), [first])
        doc1 = p.file(DOCUMENT)
        p.check_cases(first)
        expect(run, "publish again: other bytes", p.publish(second), 0,
               p.line("published", second), stderr="")
        p.published("publish again: both installers, the first document kept", second, doc1,
                    p.releases)
        doc2, before = p.file(DOCUMENT), snapshot(p.root)
        expect(run, "publish the same release again", p.publish(second), 0,
               p.line("published", second), stderr="")
        run.report("publish the same release again: root unchanged",
                   [] if snapshot(p.root) == before else ["the root changed"])
        expect(run, "check after the second publish", p.check(nginx.ports[0]), 0,
               p.line("verified", second), stderr="")

        p.refusals(first, second, doc1, doc2)
        expect(run, "rollback", p.rollback(), 0, p.line("rolled back", first), stderr="")
        p.published("rollback: the documents swapped", first, doc2, p.releases, doc1)
        expect(run, "check after the rollback", p.check(nginx.ports[0]), 0,
               p.line("verified", first), stderr="")
        expect(run, "rollback again", p.rollback(), 0, p.line("rolled back", second), stderr="")
        p.published("rollback again: back to the second release", second, doc1, p.releases, doc2)

        # Names: the hash before the last dot that does not start the name;
        # the URL percent-encodes all but unreserved characters.
        names = run.path("names")
        os.makedirs(names)
        for name in ("setup.v2.exe", "installer", "Kestrova AI (x64).exe"):
            path = shutil.copy(first["path"], os.path.join(names, name))
            result = p.publish(dict(first, path=path), names, p.base + "/")
            target = content_name(name, first["data"])
            url = f"{p.base}/dl/{urllib.parse.quote(target, safe='-._~')}"
            expect(run, f"publish names {name!r}", result, 0, p.line(
                "published", dict(first, url=url), names), stderr="")
            run.report(f"publish names {name!r}: the file",
                       [] if os.path.isfile(os.path.join(names, "dl", target)) else ["missing"])
