"""Writes the C++ source of EmbeddedPublicKey() for a build variant of the
program, from a minisign public-key file made for the test or demo run.

  write_key_source.py OUT.cpp PUBLIC_KEY_FILE [run|k1|k2]

run: the key file as it is; k1: its key line shortened by one byte (a key
that minisign cannot decode); k2: its algorithm bytes replaced (a key of an
algorithm that is not supported).
"""

import base64
import sys


def key_text(public_key_file, variant):
    with open(public_key_file, "rb") as file:
        text = file.read()
    if variant == "run":
        return text
    comment, key_line = text.split(b"\n")[0:2]
    key = base64.b64decode(key_line)
    if variant == "k1":
        key = key[:-1]
    elif variant == "k2":
        key = b"Zz" + key[2:]
    else:
        raise SystemExit("unknown variant " + variant)
    return comment + b"\n" + base64.b64encode(key) + b"\n"


def main():
    out, public_key_file = sys.argv[1:3]
    variant = sys.argv[3] if len(sys.argv) > 3 else "run"
    encoded = base64.b64encode(key_text(public_key_file, variant)).decode("ascii")
    source = (
        "// Generated for a test or demo build: the key of this build variant.\n"
        '#include "signature/embedded_public_key.h"\n\n'
        "namespace kestrova {\n\n"
        "std::string_view EmbeddedPublicKey() {\n"
        '  return "%s";\n'
        "}\n\n"
        "}  // namespace kestrova\n" % encoded
    )
    with open(out, "w", encoding="ascii") as file:
        file.write(source)


if __name__ == "__main__":
    main()
