"""What the release exe is made of: its size, its sections, and the input
sections and objects that contribute most, from a map file of a second link.

  size_report.py --build BUILD_DIR --out OUT_DIR [--json FILE] [--top N]

The second link runs the exe's own link command (from ninja) with -s left out
and -Wl,-Map added, into OUT_DIR, so the image holds the same sections as the
release exe plus symbols. Sizes per object come from the map: every input
section that landed in an image section (debug sections left aside), summed
per object file or archive member.
"""

import argparse
import json
import os
import re
import subprocess
import sys
from collections import defaultdict

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
from link_map import PROGRAM, parse_map, relink_with_map  # noqa: E402


def short_object(obj):
    match = re.match(r"^(.*?)([^/]+\.a)\((.+)\)$", obj)
    if match:
        return "%s(%s)" % (match.group(2), match.group(3))
    return os.path.basename(obj) if obj.startswith("/") else obj


def archive_of(obj):
    match = re.match(r"^.*?([^/]+\.a)\(", obj)
    return match.group(1) if match else os.path.basename(obj)


def demangle(names):
    if not names:
        return []
    result = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True,
                            timeout=60)
    return result.stdout.split("\n")[:len(names)]


def pe_sections(exe):
    import pefile  # Debian's python3-pefile

    image = pefile.PE(exe, fast_load=True)
    sections = []
    for section in image.sections:
        sections.append({"name": section.Name.rstrip(b"\0").decode("ascii"),
                         "raw": section.SizeOfRawData, "virtual": section.Misc_VirtualSize})
    image.close()
    return sections


def report(build, out, top):
    os.makedirs(out, exist_ok=True)
    exe = os.path.join(build, PROGRAM)
    entries = parse_map(relink_with_map(build, out))
    per_object = defaultdict(lambda: defaultdict(int))
    per_archive = defaultdict(int)
    for output, _, size, obj in entries:
        if output in (".bss",):
            continue
        per_object[short_object(obj)][output] += size
        per_archive[archive_of(obj)] += size
    objects = sorted(((sum(v.values()), k, dict(v)) for k, v in per_object.items()), reverse=True)
    # Function-level sections (-ffunction-sections) carry the symbol in their
    # name: .text$<mangled>. Other objects show up with their whole .text.
    code = sorted((e for e in entries if e[0] in (".text", ".rdata", ".data")),
                  key=lambda e: -e[2])[:top]
    symbols = [e[1].split("$", 1)[1] if "$" in e[1] else "" for e in code]
    readable = demangle([s for s in symbols if s])
    names = iter(readable)
    pieces = []
    for (output, name, size, obj), symbol in zip(code, symbols):
        label = next(names) if symbol else name
        pieces.append({"section": output, "name": label[:160], "size": size,
                       "object": short_object(obj)})
    return {
        "exe": exe,
        "bytes": os.path.getsize(exe),
        "sections": pe_sections(exe),
        "archives": sorted(({"archive": k, "size": v} for k, v in per_archive.items()),
                           key=lambda a: -a["size"]),
        "objects": [{"object": k, "size": s, "by_section": v} for s, k, v in objects[:top]],
        "pieces": pieces,
    }


def print_report(data, top=25):
    print("size: %s is %d bytes (%.1f KiB); goal 300 KB (307,200 bytes): %s" % (
        data["exe"], data["bytes"], data["bytes"] / 1024,
        "met" if data["bytes"] <= 307200 else "NOT met"))
    print("  sections (raw bytes in the file / virtual size):")
    for section in data["sections"]:
        print("    %-8s %8d %8d" % (section["name"], section["raw"], section["virtual"]))
    print("  by archive (bytes of image sections, .bss left out):")
    for archive in data["archives"][:12]:
        print("    %8d  %s" % (archive["size"], archive["archive"]))
    print("  largest objects:")
    for obj in data["objects"][:top]:
        print("    %8d  %s" % (obj["size"], obj["object"]))
    print("  largest input sections:")
    for piece in data["pieces"][:top]:
        print("    %8d  %-6s %s  [%s]" % (piece["size"], piece["section"], piece["name"][:90],
                                         piece["object"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--json")
    parser.add_argument("--top", type=int, default=40)
    options = parser.parse_args()
    data = report(os.path.abspath(options.build), os.path.abspath(options.out), options.top)
    if options.json:
        with open(options.json, "w", encoding="utf-8") as file:
            json.dump(data, file, indent=1)
    print_report(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
