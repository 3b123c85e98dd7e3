"""kestrova-channel public-key and sign on a real token: SoftHSM2 with keys
that pkcs11-tool makes inside it, minisign -V as the peer of every signature.
The cases run on the Run of channel_tool_test.py."""

import base64
import os
import re
import subprocess
import time

SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
# p11-kit's trust module: a real module whose tokens have no CKM_EDDSA.
TRUST_MODULE = "/usr/lib/x86_64-linux-gnu/pkcs11/p11-kit-trust.so"
TOKEN, SPARE = "kestrova-test", "kestrova-spare"
KEY_URI = f"pkcs11:token={TOKEN};object=kestrova-update;type=private"
WRONG_KEY = "The signature was created with a different key than the one provided"


def printed_id(id_hex):
    """A key ID as minisign prints it: one number in hexadecimal."""
    return format(int(id_hex, 16), "X")


class Token:
    def __init__(self, run, make_token):
        self.run = run
        self.dir = run.path("token")
        for label in (TOKEN, SPARE):
            subprocess.run([make_token, self.dir, label], check=True, timeout=60)
        with open(os.path.join(self.dir, TOKEN + ".pin"), encoding="ascii") as pin:
            self.pin = pin.read()
        # Drawn IDs; the second one's printed form always drops a leading 0.
        self.ids = {"kestrova-update": os.urandom(8).hex(),
                    "leading-zero": "0" + os.urandom(8).hex()[1:],
                    "p256": os.urandom(8).hex(), "short-id": os.urandom(2).hex()}
        for label, key_type in (("kestrova-update", "EC:edwards25519"),
                                ("leading-zero", "EC:edwards25519"),
                                ("p256", "EC:prime256v1"), ("short-id", "EC:edwards25519")):
            self.pkcs11_tool("--keypairgen", "--key-type", key_type, "--id", self.ids[label],
                             "--label", label, "--usage-sign")

    def environ(self, **extra):
        # SoftHSM leaks a few OpenSSL objects while it reads an EC key's
        # parameters; its allocations are not this program's.
        suppressions = self.run.path("softhsm-leaks.supp")
        with open(suppressions, "w", encoding="ascii") as file:
            file.write("leak:libcrypto.so\n")
        env = dict(self.run.env, SOFTHSM2_CONF=os.path.join(self.dir, "softhsm2.conf"),
                   KESTROVA_SIGN_PIN=self.pin, LSAN_OPTIONS="suppressions=" + suppressions)
        env.update(extra)
        return {k: v for k, v in env.items() if v is not None}

    def pkcs11_tool(self, *arguments):
        return subprocess.run(["pkcs11-tool", "--module", SOFTHSM, "--token-label", TOKEN,
                               "--login", "--pin", self.pin, *arguments], env=self.environ(),
                              check=True, capture_output=True, timeout=60).stdout

    def public_point(self, label):
        """The key's 32 bytes as pkcs11-tool reads them from the token."""
        path = self.run.path(label + "-spki.pem")
        self.pkcs11_tool("--read-object", "--type", "pubkey", "--id", self.ids[label], "-o", path)
        with open(path, encoding="ascii") as pem:
            body = "".join(line for line in pem.read().splitlines() if "-----" not in line)
        return base64.b64decode(body)[-32:]

    def tool(self, *arguments, **extra_env):
        return subprocess.run([self.run.tool, *arguments], env=self.environ(**extra_env),
                              capture_output=True, text=True, timeout=120)

    def sign(self, *extra, key=KEY_URI, module=SOFTHSM, **extra_env):
        installer = [] if "--installer" in extra else ["--installer", self.run.path("inst.bin")]
        return self.tool("sign", *installer, "--pkcs11-module", module, "--key", key, *extra,
                         **extra_env)


def public_key_cases(run, token):
    expected_files = {}
    for label in ("kestrova-update", "leading-zero"):
        uri = f"pkcs11:token={TOKEN};object={label};type=private"
        result = token.tool("public-key", "--pkcs11-module", SOFTHSM, "--key", uri)
        number = bytes.fromhex(token.ids[label])[::-1]
        line = base64.b64encode(b"Ed" + number + token.public_point(label)).decode()
        expected = f"untrusted comment: minisign public key {printed_id(token.ids[label])}\n{line}\n"
        expected_files[label] = expected
        run.report(f"public-key: {label}: the token's key and its CKA_ID",
                   [] if (result.returncode, result.stdout) == (0, expected)
                   else [f"exit {result.returncode}, stdout {result.stdout!r}, "
                         f"expected {expected!r}"], result.stderr)
    pub = run.path("token.pub")
    result = token.tool("public-key", "--pkcs11-module", SOFTHSM, "--key", KEY_URI, "--out", pub)
    with open(pub, encoding="ascii") as file:
        token.pub = file.read()
    token.key_line = token.pub.splitlines()[1]
    run.expect("public-key --out", result, 0,
               f"written: {pub}: key {printed_id(token.ids['kestrova-update'])}, {token.key_line}")
    run.report("public-key --out: the file", [] if token.pub == expected_files["kestrova-update"]
               else [f"file {token.pub!r}"])


def minisign_verifies(run, signature, comment):
    result = subprocess.run(["minisign", "-V", "-p", run.path("token.pub"), "-m",
                             run.path("inst.bin"), "-x", signature], capture_output=True,
                            text=True, timeout=60)
    expected = f"Signature and comment signature verified\nTrusted comment: {comment}\n"
    return [] if (result.returncode, result.stdout) == (0, expected) else [
        f"minisign -V: exit {result.returncode}, {result.stdout!r} {result.stderr!r}"]


def sign_cases(run, token):
    key_id = printed_id(token.ids["kestrova-update"])
    size = len(run.installer)
    signature = run.path("token.minisig")
    result = token.sign("--signature", signature, "--trusted-comment", run.comment,
                        "--public-key", token.key_line)
    run.expect("sign with a trusted comment", result, 0,
               f"signed: {signature}: {run.path('inst.bin')}, {size} bytes, key {key_id}, "
               f"trusted comment: {run.comment}")
    run.report("sign with a trusted comment: minisign -V", minisign_verifies(
        run, signature, run.comment))
    # make takes the signature as it takes minisign's.
    result = run.tool_run("make", "--installer", run.path("inst.bin"), "--signature", signature,
                          "--url", run.url("inst.bin"), "--channel", run.path("token.json"),
                          "--public-key", token.key_line)
    run.report("make takes the token's signature", [] if result.returncode == 0
               else [f"exit {result.returncode}"], result.stderr)

    # The default file and comment; the PIN from the URI's pin-source, ahead
    # of a wrong one in the environment.
    pin_file = run.path("pin-file")
    with open(pin_file, "w", encoding="ascii") as file:
        file.write(token.pin + "\n")
    before = int(time.time())
    result = token.sign("--public-key", token.key_line, key=KEY_URI + f"?pin-source=file:{pin_file}",
                        KESTROVA_SIGN_PIN="00000")
    after = int(time.time())
    match = re.fullmatch(
        rf"signed: {re.escape(run.path('inst.bin.minisig'))}: .*, {size} bytes, key {key_id}, "
        r"trusted comment: (timestamp:(\d+)\tfile:inst\.bin\thashed)\n", result.stdout)
    problems = [] if result.returncode == 0 and match and before <= int(match[2]) <= after else [
        f"exit {result.returncode}, stdout {result.stdout!r}"]
    run.report("sign with minisign's default comment and pin-source", problems, result.stderr)
    if match:
        run.report("sign with the default comment: minisign -V", minisign_verifies(
            run, run.path("inst.bin.minisig"), match[1]))

    # Refusals, each with an earlier signature file in place.
    with open(signature, "rb") as file:
        earlier = file.read()
    short = f"pkcs11:token={TOKEN};object=short-id;type=private"
    refusals = [
        ("the program's key is another", [], {}, KEY_URI, SOFTHSM, 1,
         f"is key {key_id}, but the program checks against key"),
        ("module cannot be loaded", [], {}, KEY_URI, run.path("missing.so"), 4,
         f"the PKCS#11 module {run.path('missing.so')} cannot be loaded"),
        ("no token matches", [], {}, "pkcs11:token=nope;type=private", SOFTHSM, 4,
         f"no token of {SOFTHSM} matches the URI; its tokens: "),
        ("more than one token matches", [], {}, "pkcs11:object=kestrova-update", SOFTHSM, 4,
         f"2 tokens of {SOFTHSM} match the URI: "),
        ("no private key matches", [], {}, f"pkcs11:token={TOKEN};object=nope", SOFTHSM, 4,
         f"no private key on token {TOKEN} matches the URI; its keys: "),
        ("more than one private key matches", [], {}, f"pkcs11:token={TOKEN};type=private",
         SOFTHSM, 4, f"4 private keys on token {TOKEN} match the URI: "),
        ("not Ed25519", [], {}, f"pkcs11:token={TOKEN};object=p256", SOFTHSM, 4,
         f"key p256 (ID {token.ids['p256'].upper()}) on token {TOKEN} is not an Ed25519 key: "
         "it is an ECDSA key"),
        ("ID not 8 bytes", [], {}, short, SOFTHSM, 4,
         f"key short-id (ID {token.ids['short-id'].upper()}) on token {TOKEN} has an ID of 2 "
         "bytes; the update key's ID must be 8 bytes"),
        ("wrong PIN", [], {"KESTROVA_SIGN_PIN": "00000"}, KEY_URI, SOFTHSM, 4,
         f"token {TOKEN}: wrong PIN"),
        ("no PIN", [], {"KESTROVA_SIGN_PIN": None}, KEY_URI, SOFTHSM, 4,
         f"token {TOKEN} needs its PIN: put it in KESTROVA_SIGN_PIN"),
        ("no CKM_EDDSA", [], {}, "pkcs11:token=System%20Trust", TRUST_MODULE, 4,
         "token System Trust has no CKM_EDDSA: it cannot make Ed25519 signatures"),
        ("installer missing", ["--installer", run.path("missing.bin")], {}, KEY_URI, SOFTHSM, 3,
         f"{run.path('missing.bin')}: No such file or directory"),
        ("PIN in the URI", [], {}, KEY_URI + "?pin-value=1", SOFTHSM, 2,
         "the PIN never goes on a command line"),
        ("comment of two lines", ["--trusted-comment", "a\nb"], {}, KEY_URI, SOFTHSM, 2,
         "--trusted-comment must be one line"),
    ]
    for case, extra, env, uri, module, code, message in refusals:
        result = token.sign("--signature", signature, *extra, key=uri, module=module, **env)
        stdout = WRONG_KEY + "\n" if code == 1 else ""
        problems = [] if (result.returncode, result.stdout) == (code, stdout) else [
            f"exit {result.returncode}, stdout {result.stdout!r}, expected {code}, {stdout!r}"]
        if message not in result.stderr:
            problems.append(f"stderr lacks {message!r}")
        with open(signature, "rb") as file:
            if file.read() != earlier:
                problems.append("the earlier signature file changed")
        run.report(f"sign refuses: {case}", problems, result.stderr)
    leftovers = [name for name in os.listdir(run.work) if name.startswith(".token.minisig")]
    run.report("sign leaves no temporary files", [f"left {leftovers}"] if leftovers else [])


def token_cases(run, make_token):
    token = Token(run, make_token)
    public_key_cases(run, token)
    sign_cases(run, token)
