"""A small reader of PE files for the checks and benchmarks: headers,
sections, imported DLLs and the resource tree. Bounds-checked: a malformed
file raises ValueError rather than reading past its end."""
import struct

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_WINDOWS_GUI = 2
RESOURCE_TYPES = {3: "icon", 14: "icon group", 16: "version", 24: "manifest", 10: "rcdata"}


class PeFile:
    def __init__(self, data):
        self.data = data
        if self._read("<H", 0)[0] != 0x5A4D:
            raise ValueError("no MZ header")
        pe = self._read("<I", 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, section_count, _, _, _, optional_size, _) = self._read("<HHIIIHH", pe + 4)
        optional = pe + 24
        magic = self._read("<H", optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header magic {magic:#x}")
        self.is_pe32 = magic == 0x10B
        self.subsystem = self._read("<H", optional + 68)[0]
        directories = optional + (96 if self.is_pe32 else 112)
        self.directories_offset = directories
        count = self._read("<I", directories - 4)[0]
        self.directories = [self._read("<II", directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(section_count):
            raw = self.data[table + 40 * i:table + 40 * i + 40]
            if len(raw) != 40:
                raise ValueError("section table cut off")
            name = raw[:8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", raw, 8)
            self.sections.append((name, address, virtual_size, raw_offset, raw_size))

    def _read(self, fmt, offset):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise ValueError(f"read of {size} bytes at {offset} past the end ({len(self.data)})")
        return struct.unpack_from(fmt, self.data, offset)

    def offset_of(self, rva):
        for _, address, virtual_size, raw_offset, raw_size in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    def _string(self, rva):
        start = self.offset_of(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise ValueError("unterminated string")
        return self.data[start:end].decode("ascii", "replace")

    def _descriptor_dll_names(self, directory, descriptor_format, name_field):
        """DLL names of a table of descriptors, ended by one whose name is 0."""
        rva, _ = self.directories[directory]
        if not rva:
            return []
        names, offset = [], self.offset_of(rva)
        size = struct.calcsize(descriptor_format)
        while True:
            name_rva = self._read(descriptor_format, offset)[name_field]
            if name_rva == 0:
                return names
            names.append(self._string(name_rva))
            offset += size

    def imported_dlls(self):
        """Names of the DLLs in the import table, as written there."""
        return self._descriptor_dll_names(1, "<IIIII", 3)

    def imported_functions(self):
        """(DLL, function) of every import: the function's name, or "#N" for
        an import by ordinal N."""
        rva, _ = self.directories[1]
        if not rva:
            return []
        entry_format, ordinal_flag = ("<I", 1 << 31) if self.is_pe32 else ("<Q", 1 << 63)
        entry_size = struct.calcsize(entry_format)
        found, descriptor = [], self.offset_of(rva)
        while True:
            lookup, _, _, name_rva, first_thunk = self._read("<IIIII", descriptor)
            if name_rva == 0:
                return found
            dll = self._string(name_rva)
            # The lookup table may be absent; the address table then holds the
            # same entries until the loader overwrites it.
            entry = self.offset_of(lookup or first_thunk)
            while (value := self._read(entry_format, entry)[0]) != 0:
                if value & ordinal_flag:
                    found.append((dll, f"#{value & 0xFFFF}"))
                else:
                    found.append((dll, self._string((value & 0x7FFFFFFF) + 2)))  # after the hint
                entry += entry_size
            descriptor += 20

    def delay_imported_dlls(self):
        """Names of the DLLs in the delay-load import table."""
        return self._descriptor_dll_names(13, "<IIIIIIII", 1)

    def size_breakdown(self):
        """(what, bytes in the file, note) for every section and every resource."""
        rows = [(f"section {name}", raw_size, f"{virtual_size} in memory")
                for name, _, virtual_size, _, raw_size in self.sections]
        rows += [(f"resource {RESOURCE_TYPES.get(kind, kind)} {name}", leaf_size, "")
                 for kind, name, _, leaf_size in self.resources()]
        return rows

    def resources(self):
        """(type, name, language, size) of every resource leaf."""
        rva, _ = self.directories[2]
        if not rva:
            return []
        base = self.offset_of(rva)
        leaves = []

        def walk(directory, path):
            named, numbered = self._read("<HH", directory + 12)
            for i in range(named + numbered):
                ident, child = self._read("<II", directory + 16 + 8 * i)
                key = ident if not ident & 0x80000000 else f"name@{ident & 0x7FFFFFFF:#x}"
                if child & 0x80000000:
                    if len(path) >= 3:
                        raise ValueError("resource tree deeper than three levels")
                    walk(base + (child & 0x7FFFFFFF), path + [key])
                else:
                    _, size = self._read("<II", base + child)
                    leaves.append((*path, key, size))

        walk(base, [])
        return leaves


def load(path):
    with open(path, "rb") as f:
        return PeFile(f.read())
