"""KestrovaAI-setup.cdx.json: a CycloneDX 1.6 bill of materials of the
published exe. The same inputs give the same bytes: its time is the commit's
time and its serial number is derived from the exe's SHA-256.
"""

import datetime
import json
import subprocess
import urllib.parse
import uuid

SPEC_VERSION = "1.6"
# Serial numbers are name-based UUIDs (version 5) of the exe's hash in this
# namespace.
SERIAL_NAMESPACE = uuid.uuid5(uuid.NAMESPACE_DNS, "kestrova.ai")
PROGRAM_REF = "KestrovaAI-setup.exe"
TOOL_PACKAGES = ("gcc-mingw-w64-x86-64-win32", "g++-mingw-w64-x86-64-win32",
                 "binutils-mingw-w64-x86-64", "cmake", "ninja-build")
SIGNING_TOOL = "osslsigncode"


def debian_release():
    """The purl distro qualifier of the Debian release the exe is built on
    ("debian-12"): package versions are those of that release, and
    vulnerability scanners match a Debian package by name, version and
    distro."""
    fields = {}
    with open("/etc/os-release", encoding="utf-8") as release:
        for line in release:
            key, _, value = line.strip().partition("=")
            fields[key] = value.strip('"')
    return "%s-%s" % (fields["ID"], fields["VERSION_ID"])


def purl(name, version, arch):
    # Qualifiers in the canonical (alphabetical) order.
    return "pkg:deb/debian/%s@%s?arch=%s&distro=%s" % (
        urllib.parse.quote(name, safe=""), urllib.parse.quote(version, safe=""), arch,
        debian_release())


def licences(expression):
    if " " in expression:
        return [{"expression": expression}]
    return [{"license": {"id": expression}}]


def deb_package(name):
    fields = subprocess.run(["dpkg-query", "-W", "-f=${Version}\\t${Architecture}", name],
                            check=True, capture_output=True, text=True, timeout=60).stdout
    version, arch = fields.split("\t")
    return version, arch


def commit_time(source, commit):
    seconds = subprocess.run(["git", "-C", source, "show", "-s", "--format=%ct", commit],
                             check=True, capture_output=True, text=True, timeout=60).stdout
    moment = datetime.datetime.fromtimestamp(int(seconds), datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def document(parts, program_version, exe_sha256, unsigned_sha256, signed, commit, time):
    tools = []
    for name in TOOL_PACKAGES + ((SIGNING_TOOL,) if signed else ()):
        version, arch = deb_package(name)
        tools.append({"type": "application", "name": name, "version": version,
                      "purl": purl(name, version, arch)})
    components = []
    for part in parts:
        ref = purl(part["name"], part["version"], part["arch"])
        components.append({
            "type": "library",
            "bom-ref": ref,
            "name": part["name"],
            "version": part["version"],
            "description": part["title"],
            "licenses": licences(part["licence"]),
            "purl": ref,
        })
    properties = [{"name": "kestrova:commit", "value": commit},
                  {"name": "kestrova:signed", "value": "true" if signed else "false"},
                  {"name": "kestrova:unsigned-sha256", "value": unsigned_sha256}]
    return {
        "bomFormat": "CycloneDX",
        "specVersion": SPEC_VERSION,
        "serialNumber": "urn:uuid:%s" % uuid.uuid5(SERIAL_NAMESPACE, exe_sha256),
        "version": 1,
        "metadata": {
            "timestamp": time,
            "tools": {"components": tools},
            "component": {
                "type": "application",
                "bom-ref": PROGRAM_REF,
                "name": PROGRAM_REF,
                "version": program_version,
                "description": "Kestrova AI web setup for x86-64 Windows",
                "hashes": [{"alg": "SHA-256", "content": exe_sha256}],
                "properties": properties,
            },
        },
        "components": components,
        "dependencies": [{"ref": PROGRAM_REF, "dependsOn": [c["bom-ref"] for c in components]}] +
                        [{"ref": c["bom-ref"]} for c in components],
    }


def text(bom):
    return json.dumps(bom, indent=2, ensure_ascii=False) + "\n"
