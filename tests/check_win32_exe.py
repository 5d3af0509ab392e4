"""Inspects the shipping 32-bit exe without running it: PE32 for i386, GUI
subsystem, imports only from DLLs Windows always takes from the system folder
and only of functions that Windows 7 without updates has, the manifest, icon
group 102 (four PNG images) and version record present, and the size within
its limit. Prints the size and what takes it.

    python3 check_win32_exe.py EXE ICON_FILE
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_file  # noqa: E402
from exe_size_limits import EXE_SIZE_GOAL, EXE_SIZE_LIMIT  # noqa: E402

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# In the KnownDLLs of every Windows from 7 to 11: the loader maps these from
# the system folder whatever lies beside the exe. (gdiplus.dll and wininet.dll
# are not among them everywhere; the exe loads both itself, from System32.)
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "shlwapi.dll",
              "ole32.dll", "oleaut32.dll", "advapi32.dll", "msvcrt.dll", "comdlg32.dll",
              "imagehlp.dll", "imm32.dll", "msctf.dll", "normaliz.dll", "nsi.dll", "psapi.dll",
              "rpcrt4.dll", "sechost.dll", "setupapi.dll", "wldap32.dll", "ws2_32.dll"}
IMPORT_MINIMUMS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "win32_imports.txt")
WINDOWS_RELEASES = ["2000", "XP", "Vista", "7", "8", "8.1", "10"]
OLDEST_SUPPORTED = "7"
VS_FIXEDFILEINFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
TRANSLATION = "Translation\0".encode("utf-16-le") + b"\0\0" + struct.pack("<HH", 0x0409, 1200)
MANIFEST_TEXTS = [b'level="asInvoker"', b'uiAccess="false"', b">True/PM<",
                  b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                  b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]


def icon_images(ico_path):
    """(size, png bytes) of every image of an icon file."""
    with open(ico_path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        side, _, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((side or 256, bits, data[offset:offset + length]))
    return images


def read_import_minimums(path=IMPORT_MINIMUMS):
    """{(dll, function): oldest Windows} from the committed list, DLL names folded."""
    minimums = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                dll, function, release = line.rstrip("\n").split("\t")
                minimums[(dll.lower(), function)] = release
    return minimums


def import_problems(imports, minimums):
    """An import the list lacks, or one that needs a Windows newer than 7,
    would stop the loader from starting the exe there."""
    found = []
    for dll, function in imports:
        release = minimums.get((dll.lower(), function))
        if release is None:
            found.append(f"imports {dll}!{function}, which the list of imports lacks: add it "
                         f"with the oldest Windows its documentation gives")
        elif WINDOWS_RELEASES.index(release) > WINDOWS_RELEASES.index(OLDEST_SUPPORTED):
            found.append(f"imports {dll}!{function}, which needs Windows {release}: look it up "
                         f"at run time instead")
    return found


def version_problems(data):
    """The fixed version 6.0.0.0, the texts and the 0x0409/1200 translation."""
    found = []
    fixed = data.find(VS_FIXEDFILEINFO_SIGNATURE)
    versions = struct.unpack_from("<IIII", data, fixed + 8) if fixed >= 0 else None
    if versions != (0x60000, 0, 0x60000, 0):
        found.append(f"file and product version are not 6.0.0.0 ({versions})")
    for key, value in [("FileDescription", "Zorva Setup"), ("ProductName", "Zorva")]:
        entry = (key + "\0").encode("utf-16-le")
        start = data.find(entry)
        text = data[start + len(entry):start + len(entry) + 64] if start >= 0 else b""
        if (value + "\0").encode("utf-16-le") not in text.lstrip(b"\0") [:2 * len(value) + 2]:
            found.append(f"the version record's {key} is not \"{value}\"")
    if TRANSLATION not in data:
        found.append("the version record has no 0x0409/1200 translation")
    return found


def problems_of(path, ico_path):
    with open(path, "rb") as f:
        data = f.read()
    pe = pe_file.PeFile(data)
    found = []
    if pe.machine != pe_file.MACHINE_I386 or not pe.is_pe32:
        found.append(f"not PE32 for i386 (machine {pe.machine:#x})")
    if pe.subsystem != pe_file.SUBSYSTEM_WINDOWS_GUI:
        found.append(f"subsystem {pe.subsystem}, not the GUI")
    for dll in pe.imported_dlls() + pe.delay_imported_dlls():
        if dll.lower() not in KNOWN_DLLS:
            found.append(f"imports {dll}, which Windows may load from the exe's folder")
    found += import_problems(pe.imported_functions(), read_import_minimums())
    leaves = [(kind, name) for kind, name, _, _ in pe.resources()]
    for wanted, label in [((RT_MANIFEST, 1), "manifest 1"), ((RT_GROUP_ICON, 102), "icon group 102"),
                          ((RT_VERSION, 1), "version record")]:
        if wanted not in leaves:
            found.append(f"no {label} resource")
    icons = [name for kind, name in leaves if kind == RT_ICON]
    if len(icons) != 4:
        found.append(f"{len(icons)} icon images, not 4")
    for side, bits, png in icon_images(ico_path):
        if not png.startswith(b"\x89PNG") or bits != 32 or png not in data:
            found.append(f"the {side}-pixel icon is not embedded as a 32-bit PNG")
    for text in MANIFEST_TEXTS:
        if text not in data:
            found.append(f"the manifest lacks {text.decode()}")
    found += version_problems(data)
    if len(data) > EXE_SIZE_LIMIT:
        found.append(f"{len(data)} bytes, over the limit of {EXE_SIZE_LIMIT}")
    return pe, len(data), found


def print_breakdown(pe, size):
    print(f"{size} bytes ({size / 1024:.1f} KB; limit {EXE_SIZE_LIMIT // 1024} KB, "
          f"goal {EXE_SIZE_GOAL // 1024} KB)")
    for what, size_in_file, note in pe.size_breakdown():
        print(f"  {what}: {size_in_file} bytes" + (f" ({note})" if note else ""))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_win32_exe.py EXE ICON_FILE")
    pe, size, found = problems_of(sys.argv[1], sys.argv[2])
    print_breakdown(pe, size)
    for problem in found:
        print(f"FAIL: {problem}", file=sys.stderr)
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
