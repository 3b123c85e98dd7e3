"""The release exe's link map: a second link of the exe with the build's own
link command (from ninja), -s left out and -Wl,-Map added, and the input
sections that the map places in image sections. The second link gives the
same sections as the release exe; the exe itself is not touched.
"""

import os
import re
import shlex
import subprocess

PROGRAM = "bin/KestrovaAI-setup.exe"
IMAGE_SECTIONS = (".text", ".data", ".rdata", ".pdata", ".xdata", ".bss", ".idata", ".CRT",
                  ".tls", ".rsrc", ".reloc")
NUMBER = r"0x[0-9a-fA-F]+"


def relink_with_map(build, out):
    """Links the program again with symbols and a map; returns the map's path."""
    commands = subprocess.run(["ninja", "-C", build, "-t", "commands", PROGRAM], check=True,
                              capture_output=True, text=True, timeout=60).stdout
    line = commands.strip().splitlines()[-1]
    line = line.removeprefix(": && ").removesuffix(" && :")
    words = shlex.split(line)
    exe = os.path.join(out, "KestrovaAI-setup-symbols.exe")
    map_file = os.path.join(out, "KestrovaAI-setup.map")
    result = []
    skip = False
    for word in words:
        if skip:
            skip = False
            result.append(exe)
            continue
        if word == "-s" or word.startswith("-Wl,--out-implib,"):
            continue
        if word == "-o":
            skip = True
        result.append(word)
    result.append("-Wl,-Map=" + map_file)
    subprocess.run(result, cwd=build, check=True, timeout=300)
    return map_file


def parse_map(map_file):
    """(output section, input section name, size, object) of every input
    section placed in an image section."""
    entries = []
    with open(map_file, encoding="utf-8", errors="replace") as file:
        lines = file.read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    output = None
    pending = None
    head = re.compile(r"^ (\S+)\s+(%s)\s+(%s)\s+(.+)$" % (NUMBER, NUMBER))
    alone = re.compile(r"^ (\S+)$")
    tail = re.compile(r"^\s+(%s)\s+(%s)\s+(.+)$" % (NUMBER, NUMBER))
    for line in lines[start:]:
        if line.startswith("."):
            output = line.split()[0]
            pending = None
            continue
        if output not in IMAGE_SECTIONS:
            continue
        match = head.match(line)
        if match:
            name, address, size, obj = match.groups()
            pending = None
        else:
            match = alone.match(line)
            if match and not line.startswith(" *"):
                pending = match.group(1)
                continue
            match = tail.match(line) if pending else None
            if not match:
                pending = None
                continue
            name, (address, size, obj) = pending, match.groups()
            pending = None
        size = int(size, 16)
        if size == 0 or int(address, 16) == 0 or " = " in obj or obj.startswith("0x"):
            continue
        entries.append((output, name, size, obj.strip()))
    return entries
