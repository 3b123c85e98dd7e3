"""Which third-party packages the release exe's code comes from, read off the
build itself: every archive and object file that the link map places in an
image section, and every header that the project's own objects among them
were compiled with (header-only libraries leave no archive in the map).

Each file is traced to a Debian package (dpkg -S) or to a source package
built here (a prefix with share/doc/NAME/SOURCE, as build-libsodium-windows
leaves it); the project's own files (under the source or build folder) are
left out. A file that is neither is an Untraced.
"""

import functools
import os
import re
import subprocess

from link_map import parse_map

MEMBER = re.compile(r"^(.*\.a)\((.+)\)$")


class Untraced(Exception):
    """Files of the link that come from no known package."""

    def __init__(self, paths):
        super().__init__(", ".join(paths))
        self.paths = paths


def inputs_of_map(map_file, build):
    """{archive or object path: set of archive members used} of the link."""
    inputs = {}
    for _, _, _, obj in parse_map(map_file):
        match = MEMBER.match(obj)
        path, member = (match.group(1), match.group(2)) if match else (obj, None)
        path = os.path.normpath(os.path.join(build, path))
        members = inputs.setdefault(path, set())
        if member:
            members.add(member)
    return inputs


def source_record(path):
    """(name, version) of the source package whose built prefix holds PATH,
    from PREFIX/share/doc/NAME/SOURCE ("NAME VERSION"), or None."""
    folder = os.path.dirname(os.path.abspath(path))
    while folder != os.path.dirname(folder):
        record = record_in(folder)
        if record:
            return record
        folder = os.path.dirname(folder)
    return None


@functools.lru_cache(maxsize=None)
def record_in(folder):
    docs = os.path.join(folder, "share", "doc")
    if not os.path.isdir(docs):
        return None
    for name in sorted(os.listdir(docs)):
        record = os.path.join(docs, name, "SOURCE")
        if os.path.isfile(record):
            with open(record, encoding="utf-8") as file:
                words = file.read().split()
            if len(words) == 2 and words[0] == name:
                return name, words[1]
    return None


def dpkg_owners(paths):
    """{path: package} for the paths that a Debian package holds; a path is
    looked up as given and through its symbolic links resolved."""
    wanted = {}
    for path in paths:
        wanted.setdefault(path, path)
        wanted.setdefault(os.path.realpath(path), path)
    owners = {}
    names = sorted(wanted)
    for start in range(0, len(names), 2000):
        result = subprocess.run(["dpkg-query", "-S", *names[start:start + 2000]],
                                capture_output=True, text=True, timeout=120)
        for line in result.stdout.splitlines():
            packages, _, owned = line.partition(": ")
            if owned in wanted and "diversion" not in packages:
                owners[wanted[owned]] = packages.split(",")[0].strip().split(":")[0]
    return owners


def header_dependencies(build, inputs):
    """The headers that the project's own objects in INPUTS were compiled
    with, from ninja's dependency log."""
    listed = subprocess.run(["ninja", "-C", build, "-t", "deps"], check=True,
                            capture_output=True, text=True, timeout=120).stdout
    deps = {}
    target = None
    for line in listed.splitlines():
        if line and not line.startswith(" "):
            target = os.path.normpath(os.path.join(build, line.split(":", 1)[0]))
            deps[target] = []
        elif line.strip() and target:
            deps[target].append(os.path.normpath(os.path.join(build, line.strip())))
    objects = []
    for path, members in inputs.items():
        if not members:
            objects.append(path)
            continue
        query = subprocess.run(["ninja", "-C", build, "-t", "query", os.path.relpath(path, build)],
                               check=True, capture_output=True, text=True, timeout=60).stdout
        sources = []
        in_inputs = False
        for line in query.splitlines():
            if line.startswith("  ") and not line.startswith("    "):
                in_inputs = line.strip().startswith("input:")
            elif in_inputs and line.strip():
                name = line.strip().lstrip("|").strip()
                sources.append(os.path.normpath(os.path.join(build, name)))
        objects += [s for s in sources if os.path.basename(s) in members]
    headers = set()
    for obj in objects:
        headers.update(deps.get(obj, []))
    return headers


def packages_of_link(map_file, build, source):
    """{(kind, name): {"version": ..., "files": [...]}} of the packages whose
    files went into the link: kind "deb" for an installed Debian package,
    "source" for a source package built here. Raises Untraced for the files
    of the link that come from neither."""
    build = os.path.abspath(build)
    source = os.path.abspath(source)
    inputs = inputs_of_map(map_file, build)
    own = [p for p in inputs if p.startswith(build + os.sep) and not source_record(p)]
    files = set(p for p in inputs if p not in own)
    files.update(header_dependencies(build, {p: inputs[p] for p in own}))
    packages = {}
    foreign = []
    for path in sorted(files):
        record = source_record(path)
        if record:
            entry = packages.setdefault(("source", record[0]), {"version": record[1], "files": []})
            entry["files"].append(path)
        elif os.path.realpath(path).startswith((source + os.sep, build + os.sep)):
            continue  # the project's own header, or one generated by its build
        else:
            foreign.append(path)
    owners = dpkg_owners(foreign)
    untraced = [p for p in foreign if p not in owners]
    if untraced:
        raise Untraced(untraced)
    for path in foreign:
        entry = packages.setdefault(("deb", owners[path]), {"files": []})
        entry["files"].append(os.path.realpath(path))
    for (kind, name), entry in packages.items():
        if kind == "deb":
            entry["version"] = dpkg_field(name, "Version")
            entry["arch"] = dpkg_field(name, "Architecture")
        else:
            entry["arch"] = "source"
    return packages


def dpkg_field(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f=${%s}" % field, package], check=True,
                          capture_output=True, text=True, timeout=60).stdout.strip()
