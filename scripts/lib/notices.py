"""THIRD-PARTY-NOTICES.txt: for each package whose code is in the exe, its
name, version, licence and full licence text, read from what the build
used: /usr/share/doc/PACKAGE/copyright of a Debian package, the LICENSE that
a source package built here left in its prefix. Where a licence's text is
only referred to there (Debian keeps the GPL in /usr/share/common-licenses),
it follows at the end.
"""

import hashlib
import os
import re

GCC_EXCEPTION = "GPL-3.0-or-later WITH GCC-exception-3.1"
GCC_EXCEPTION_TITLE = "GCC RUNTIME LIBRARY EXCEPTION"
COMMON_LICENSES = "/usr/share/common-licenses"
# SPDX licences whose text a copyright file refers to instead of holding it.
COMMON_TEXTS = {"GPL-3.0-or-later": "GPL-3"}

# (kind, package): component title, SPDX licence expression, text that the
# licence text must contain. A package that is not here has no notice, and
# the release refuses to go out with its code.
KNOWN = {
    ("source", "libsodium"): ("libsodium", "ISC", "ISC License"),
    ("deb", "nlohmann-json3-dev"): ("nlohmann/json", "MIT", "MIT"),
    ("deb", "mingw-w64-x86-64-dev"): ("mingw-w64 runtime libraries", "ZPL-2.1", "ZPL-2.1"),
    ("deb", "mingw-w64-common"): ("mingw-w64 headers", "ZPL-2.1", "ZPL-2.1"),
    ("deb", "gcc-mingw-w64-x86-64-win32"): (
        "GCC runtime (libgcc, start-up files)", GCC_EXCEPTION, GCC_EXCEPTION_TITLE),
    ("deb", "gcc-mingw-w64-x86-64-win32-runtime"): (
        "GCC runtime (libgcc)", GCC_EXCEPTION, GCC_EXCEPTION_TITLE),
    ("deb", "g++-mingw-w64-x86-64-win32"): (
        "GCC runtime (libstdc++)", GCC_EXCEPTION, GCC_EXCEPTION_TITLE),
}


class NoNotice(Exception):
    pass


def licence_file(kind, name, files):
    if kind == "deb":
        return "/usr/share/doc/%s/copyright" % name
    # A source package built here: PREFIX/share/doc/NAME/LICENSE beside SOURCE.
    folder = os.path.dirname(os.path.abspath(files[0]))
    while folder != os.path.dirname(folder):
        path = os.path.join(folder, "share", "doc", name, "LICENSE")
        if os.path.isfile(path):
            return path
        folder = os.path.dirname(folder)
    return os.path.join("share", "doc", name, "LICENSE")


def components(packages):
    """The packages of link_components.packages_of_link with their notices:
    a list of dicts, sorted by package name. Raises NoNotice naming every
    package without one."""
    missing = []
    result = []
    for (kind, name), entry in sorted(packages.items(), key=lambda item: item[0][1]):
        known = KNOWN.get((kind, name))
        if not known:
            missing.append("%s (%s)" % (name, ", ".join(sorted(set(entry["files"]))[:3])))
            continue
        title, spdx, must_contain = known
        path = licence_file(kind, name, entry["files"])
        try:
            with open(path, encoding="utf-8") as file:
                text = file.read()
        except OSError as error:
            missing.append("%s (cannot read %s: %s)" % (name, path, error.strerror))
            continue
        if must_contain not in text:
            missing.append("%s (%s does not contain %r)" % (name, path, must_contain))
            continue
        # Where the text comes from, without this machine's folders.
        origin = (path if kind == "deb" else "LICENSE of the Debian source package %s %s" % (
            name, entry["version"]))
        result.append({"kind": kind, "name": name, "version": entry["version"],
                       "arch": entry["arch"], "title": title, "licence": spdx,
                       "licence_file": path, "licence_origin": origin, "text": text,
                       "files": sorted(set(entry["files"]))})
    if missing:
        raise NoNotice("; ".join(missing))
    return result


def referred_common_licences(parts):
    names = set()
    for part in parts:
        for word in part["licence"].replace("(", " ").replace(")", " ").split():
            if word in COMMON_TEXTS:
                names.add(COMMON_TEXTS[word])
    return sorted(names)


def code_from(files):
    """What of a package went into the exe: its archives and objects by name,
    and how many of its headers."""
    linked = sorted(set(os.path.basename(f) for f in files if f.endswith((".a", ".o", ".obj"))))
    headers = len([f for f in files if not f.endswith((".a", ".o", ".obj"))])
    words = linked + (["%d headers" % headers] if headers else [])
    return ", ".join(words)


def notices_text(program, version, parts):
    rule = "=" * 78
    lines = ["Third-party software in %s %s" % (program, version), "",
             "%s contains code of the following components, each listed" % program,
             "with its version, its licence (SPDX) and the full licence text that its",
             "package ships.", ""]
    for part in parts:
        origin = ("Debian source package %s, cross-built for Windows" % part["name"]
                  if part["kind"] == "source" else "Debian package %s" % part["name"])
        lines.append("  %s %s (%s): %s" % (part["title"], part["version"], origin,
                                           part["licence"]))
    seen = {}
    for part in parts:
        digest = hashlib.sha256(part["text"].encode()).hexdigest()
        lines += ["", rule, part["title"],
                  "version: %s" % part["version"],
                  "package: %s (%s)" % (part["name"], "Debian source package" if
                                        part["kind"] == "source" else "Debian package"),
                  "licence: %s" % part["licence"],
                  "code in the exe from: %s" % code_from(part["files"])]
        if digest in seen:
            lines += ["licence text: the same as for %s above (%s)" % (
                seen[digest], part["licence_origin"])]
            continue
        seen[digest] = part["title"]
        lines += ["licence text (%s):" % part["licence_origin"], rule, "", part["text"].rstrip()]
    for name in referred_common_licences(parts):
        with open(os.path.join(COMMON_LICENSES, name), encoding="utf-8") as file:
            text = file.read()
        lines += ["", rule, "%s/%s, the licence text referred to above" % (COMMON_LICENSES, name), rule, "",
                  text.rstrip()]
    return "\n".join(lines) + "\n"
