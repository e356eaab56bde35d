"""The built setup.exe: a 32-bit GUI program for Windows that imports only what
it calls and carries no resources."""

import struct
import unittest

from wine_fixture import SETUP_EXE_32 as SETUP_EXE

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
WINDOWS_GUI = 2
EXPECTED_IMPORTS = ["ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"]


class PortableExecutable:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        self.machine, sections, self.timestamp = struct.unpack_from("<HHI", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        count = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def offset(self, rva):
        for _, size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode()

    def imports(self):
        rva, _ = self.directories[1]
        names, entry = [], self.offset(rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, entry)
            if not any(descriptor):
                return names
            names.append(self.string(descriptor[3]).upper())
            entry += 20


class ExeFormat(unittest.TestCase):
    def test_setup_exe_is_a_bare_32_bit_gui_program(self):
        exe = PortableExecutable(SETUP_EXE.read_bytes())
        self.assertEqual(exe.machine, IMAGE_FILE_MACHINE_I386)
        self.assertEqual(exe.magic, PE32_MAGIC)
        self.assertEqual(exe.subsystem, WINDOWS_GUI)
        self.assertEqual(sorted(exe.imports()), EXPECTED_IMPORTS)
        self.assertEqual(exe.directories[2], (0, 0), "resource directory")
        self.assertEqual(exe.timestamp, 0)

    def test_setup_exe_stays_lean(self):
        self.assertLessEqual(SETUP_EXE.stat().st_size, 80 * 1024)


if __name__ == "__main__":
    unittest.main()
