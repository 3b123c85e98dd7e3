#!/usr/bin/python3
"""Checks the header and the resources of the built KestrovaAI-setup.exe.

Usage: check_program_image.py PROGRAM TWIN RESOURCES_DIR [--signed]

PROGRAM is the built program, TWIN a second link of it from the same sources
and options in another directory (the two must be identical byte for byte),
RESOURCES_DIR the folder with the committed icon images. With --signed,
PROGRAM is the Authenticode-signed release: its certificate table (the
security directory) is the only addition, and without it the file is TWIN.
"""

import io
import pathlib
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

import pefile
from PIL import Image

PROGRAM = TWIN = RESOURCES = None
SIGNED = False

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
LANGUAGE_EN_US = 0x0409
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

# Windows' KnownDLLs (HKLM\System\CurrentControlSet\Control\Session Manager\
# KnownDLLs, Windows 7 to 11), with ntdll and kernelbase, which are always
# loaded from the system.
KNOWN_DLLS = {name + ".dll" for name in (
    "advapi32", "clbcatq", "combase", "comdlg32", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "kernelbase", "msctf", "msvcrt", "normaliz", "nsi", "ntdll", "ole32", "oleaut32",
    "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32",
    "ws2_32")}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

# (tag, attributes, text, children) of every element, in document order.
EXPECTED_MANIFEST = (
    ASM_V1 + "assembly", {"manifestVersion": "1.0"}, None, [
        (ASM_V3 + "trustInfo", {}, None, [
            (ASM_V3 + "security", {}, None, [
                (ASM_V3 + "requestedPrivileges", {}, None, [
                    (ASM_V3 + "requestedExecutionLevel",
                     {"level": "asInvoker", "uiAccess": "false"}, None, []),
                ]),
            ]),
        ]),
        (ASM_V1 + "dependency", {}, None, [
            (ASM_V1 + "dependentAssembly", {}, None, [
                (ASM_V1 + "assemblyIdentity", {
                    "type": "win32",
                    "name": "Microsoft.Windows.Common-Controls",
                    "version": "6.0.0.0",
                    "processorArchitecture": "*",
                    "publicKeyToken": "6595b64144ccf1df",
                    "language": "*",
                }, None, []),
            ]),
        ]),
        (ASM_V3 + "application", {}, None, [
            (ASM_V3 + "windowsSettings", {}, None, [
                (WS_2005 + "dpiAware", {}, "true/pm", []),
                (WS_2016 + "dpiAwareness", {}, "PerMonitorV2", []),
            ]),
        ]),
    ])

EXPECTED_STRINGS = [
    ("CompanyName", "Kestrova"),
    ("FileDescription", "Kestrova AI: установка"),
    ("FileVersion", "1.0.0"),
    ("OriginalFilename", "KestrovaAI-setup.exe"),
    ("ProductName", "Kestrova AI"),
    ("ProductVersion", "1.0.0"),
]


def without_signature(data):
    """The file as linked: the certificate table cut off, its directory entry
    cleared and the header checksum computed again (signing changed it)."""
    pe = pefile.PE(data=data, fast_load=True)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    table = entry.VirtualAddress  # for this directory, a file offset
    entry.VirtualAddress = entry.Size = 0
    linked = pefile.PE(data=bytes(pe.write()[:table]), fast_load=True)
    linked.OPTIONAL_HEADER.CheckSum = linked.generate_checksum()
    return bytes(linked.write())


def element_tree(element):
    text = element.text.strip() if element.text and element.text.strip() else None
    tail_texts = [child.tail for child in element if child.tail and child.tail.strip()]
    if tail_texts:
        raise AssertionError(f"text between the children of {element.tag}: {tail_texts}")
    return (element.tag, dict(element.attrib), text, [element_tree(c) for c in element])


def png_chunks(data):
    offset = 8
    chunks = []
    while offset < len(data):
        (length,) = struct.unpack(">I", data[offset:offset + 4])
        kind = data[offset + 4:offset + 8]
        body = data[offset + 8:offset + 8 + length]
        (crc,) = struct.unpack(">I", data[offset + 8 + length:offset + 12 + length])
        chunks.append((kind, body, crc == zlib.crc32(kind + body) & 0xFFFFFFFF))
        offset += 12 + length
    return chunks, offset


def version_node(data, offset=0):
    """One node of a version resource: (key, type, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    # Text values count their length in UTF-16 units, binary ones in bytes.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[position:position + value_bytes]
    position = (position + value_bytes + 3) & ~3
    children = []
    while position < end:
        child, child_end = version_node(data, position)
        children.append(child)
        position = (child_end + 3) & ~3
    return (key, kind, value, children), end


class ProgramImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = pathlib.Path(PROGRAM).read_bytes()
        cls.pe = pefile.PE(data=cls.data)
        cls.resources = {}
        for kind in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    entry = language.data.struct
                    cls.resources.setdefault(kind.id, {}).setdefault(name.id, {})[language.id] = (
                        cls.pe.get_data(entry.OffsetToData, entry.Size))

    def resource(self, kind, name):
        return self.resources[kind][name][LANGUAGE_EN_US]

    def test_header(self):
        header = self.pe.FILE_HEADER
        optional = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Machine, 0x8664)
        self.assertEqual(header.TimeDateStamp, 0)
        self.assertEqual(optional.Magic, 0x20B)
        self.assertEqual(optional.Subsystem, 2)
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (6, 0))
        self.assertEqual((optional.MajorOperatingSystemVersion,
                          optional.MinorOperatingSystemVersion), (6, 0))
        self.assertEqual(optional.DllCharacteristics, 0x8160)
        self.assertEqual(optional.SizeOfStackReserve, 0x100000)
        self.assertEqual(optional.SizeOfStackCommit, 0x1000)
        self.assertEqual(optional.SizeOfHeapReserve, 0x100000)
        self.assertEqual(optional.SizeOfHeapCommit, 0x1000)

    def test_imports_known_dlls_only(self):
        # DLLs of the KnownDLLs list always come from the system: none of the
        # program's static imports can be taken from the folder it lies in.
        # Delay-loaded imports would bypass this, so there must be none.
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, KNOWN_DLLS)
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))

    def test_stripped_without_paths(self):
        header = self.pe.FILE_HEADER
        self.assertEqual((header.PointerToSymbolTable, header.NumberOfSymbols), (0, 0))
        debug = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]]
        self.assertEqual((debug.VirtualAddress, debug.Size), (0, 0))
        names = [s.Name.rstrip(b"\0") for s in self.pe.sections]
        self.assertFalse([n for n in names if n.startswith(b"/") or n.startswith(b".debug")],
                         names)
        for path in (b"/work/", b"build/", b"\\work\\"):
            self.assertNotIn(path, self.data)

    def test_same_bytes_when_linked_twice(self):
        linked = without_signature(self.data) if SIGNED else self.data
        self.assertTrue(pathlib.Path(TWIN).read_bytes() == linked,
                        "the two links of the program differ")

    def test_security_directory(self):
        entry = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
        if not SIGNED:
            self.assertEqual((entry.VirtualAddress, entry.Size), (0, 0))
            return
        # One certificate table, 8-aligned at the very end of the file: a
        # PKCS#7 signature; the header checksum covers the signed file.
        self.assertGreater(entry.Size, 8)
        self.assertEqual(entry.VirtualAddress % 8, 0)
        self.assertEqual(entry.VirtualAddress + entry.Size, len(self.data))
        length, revision, kind = struct.unpack_from("<IHH", self.data, entry.VirtualAddress)
        self.assertEqual((revision, kind), (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA))
        self.assertEqual((length + 7) & ~7, entry.Size)
        self.assertEqual(self.pe.OPTIONAL_HEADER.CheckSum, self.pe.generate_checksum())

    def test_resource_table(self):
        self.assertEqual(sorted(self.resources), [RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST])
        self.assertEqual(sorted(self.resources[RT_ICON]), list(range(1, 8)))
        for kind in (RT_GROUP_ICON, RT_VERSION, RT_MANIFEST):
            self.assertEqual(list(self.resources[kind]), [1])
        for kind, names in self.resources.items():
            for name, languages in names.items():
                self.assertEqual(list(languages), [LANGUAGE_EN_US], (kind, name))

    def test_manifest(self):
        data = self.resource(RT_MANIFEST, 1)
        declaration = b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        self.assertTrue(data.startswith(declaration), data[:80])
        root = ElementTree.fromstring(data)
        self.assertEqual(element_tree(root), EXPECTED_MANIFEST)
        # Every namespace is declared as the default one of its element, no
        # prefixes.
        declarations = [value for _, value in ElementTree.iterparse(
            io.BytesIO(data), events=("start-ns",))]
        self.assertEqual(declarations, [("", ns[1:-1]) for ns in (ASM_V1, ASM_V3, ASM_V3,
                                                                  WS_2005, WS_2016)])

    def test_icon_group(self):
        data = self.resource(RT_GROUP_ICON, 1)
        self.assertEqual(len(data), 6 + 7 * 14)
        self.assertEqual(struct.unpack_from("<HHH", data, 0), (0, 1, 7))
        for number, size in enumerate(ICON_SIZES, start=1):
            entry = struct.unpack_from("<BBBBHHIH", data, 6 + (number - 1) * 14)
            stored = 0 if size == 256 else size
            image = self.resource(RT_ICON, number)
            self.assertEqual(entry, (stored, stored, 0, 0, 1, 32, len(image), number), size)

    def test_icon_images(self):
        for number, size in enumerate(ICON_SIZES, start=1):
            with self.subTest(size=size):
                image = self.resource(RT_ICON, number)
                committed = (pathlib.Path(RESOURCES) / f"icon-{size}.png").read_bytes()
                self.assertTrue(image == committed, "differs from the committed image")
                self.assertEqual(image[:8], b"\x89PNG\r\n\x1a\n")
                chunks, end = png_chunks(image)
                self.assertEqual(end, len(image))
                self.assertEqual([kind for kind, _, _ in chunks], [b"IHDR", b"IDAT", b"IEND"])
                self.assertTrue(all(good for _, _, good in chunks), "bad chunk CRC")
                self.assertEqual(struct.unpack(">IIBBBBB", chunks[0][1]),
                                 (size, size, 8, 6, 0, 0, 0))
                self.assertEqual(chunks[2][1], b"")
                picture = Image.open(io.BytesIO(image))
                picture.load()
                self.assertEqual((picture.mode, picture.size), ("RGBA", (size, size)))
                for corner in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1)):
                    self.assertEqual(picture.getpixel(corner)[3], 0, corner)
                self.assertEqual(picture.getpixel((size // 2, size // 2))[3], 255)

    def test_fixed_version(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(fixed.Signature, 0xFEEF04BD)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0, 0))
        self.assertEqual(fixed.FileOS, 0x40004)
        self.assertEqual((fixed.FileType, fixed.FileSubtype), (1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))

    def test_version_strings(self):
        root, end = version_node(self.resource(RT_VERSION, 1))
        key, _, fixed, children = root
        self.assertEqual(key, "VS_VERSION_INFO")
        self.assertEqual(len(fixed), 52)
        self.assertEqual([(c[0], c[1]) for c in children], [("StringFileInfo", 1),
                                                            ("VarFileInfo", 1)])
        tables = children[0][3]
        self.assertEqual([t[0] for t in tables], ["041904B0"])
        strings = tables[0][3]
        self.assertEqual([(s[0], s[1]) for s in strings], [(k, 1) for k, _ in EXPECTED_STRINGS])
        for (key, _, value, grandchildren), (expected_key, expected) in zip(
                strings, EXPECTED_STRINGS):
            # Proper UTF-16, one terminating zero unit, nothing else.
            self.assertEqual(value, (expected + "\0").encode("utf-16-le"), key)
            self.assertEqual(grandchildren, [])
        variables = children[1][3]
        self.assertEqual([(v[0], v[1], v[2]) for v in variables],
                         [("Translation", 0, struct.pack("<HH", 0x0419, 1200))])
        self.assertEqual(variables[0][3], [])


if __name__ == "__main__":
    PROGRAM, TWIN, RESOURCES = sys.argv[1:4]
    SIGNED = sys.argv[4:] == ["--signed"]
    unittest.main(argv=sys.argv[:1], verbosity=2)
