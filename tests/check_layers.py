"""Keeps the source tree's shape true: layers that point one way, and the
Win32 edge named as such.

- Each top folder with sources has a DEPS file listing what its files may
  include from other folders of ours: a folder ("base/") or one file
  ("tag/sha256.h"). Anything else is an include up or sideways.
- The folders stand on floors: no folder may reach, by what the DEPS files
  allow or by what the files include, a folder that reaches it back. Such a
  circle has no bottom floor, and a per-folder DEPS cannot see it.
- A file that includes a Windows header, or a *_win.h of ours, is Win32 code
  and says so in its name: *_win.cpp or *_win.h. Every other file is the
  portable core, built and tested natively.

    python3 check_layers.py [SOURCE_ROOT]
"""
import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".cpp", ".rc")
SKIPPED_FOLDERS = {"build"}  # generated sources
WINDOWS_HEADERS = {"windows.h", "shellapi.h", "objidl.h", "shlwapi.h", "shlobj.h",
                   "unknwn.h", "objbase.h", "ole2.h", "wininet.h", "commctrl.h", "gdiplus.h",
                   "oleacc.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def read_deps(folder_path):
    """The allowed entries of a folder's DEPS file, or None without one."""
    path = os.path.join(folder_path, "DEPS")
    if not os.path.isfile(path):
        return None
    with open(path) as f:
        lines = (line.split("#", 1)[0].strip() for line in f)
        return [line for line in lines if line]


def source_files(root):
    """(top folder, path relative to root) of every source file below root."""
    for top in sorted(os.listdir(root)):
        top_path = os.path.join(root, top)
        if top.startswith(".") or top in SKIPPED_FOLDERS or not os.path.isdir(top_path):
            continue
        for folder, subfolders, files in os.walk(top_path):
            subfolders[:] = sorted(s for s in subfolders if not s.startswith("."))
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield top, os.path.relpath(os.path.join(folder, name), root)


def includes(path):
    """(line number, '<' or '"', the included name) of each include line."""
    with open(path, errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1), match.group(2)


def allowed(included, top, entries):
    own_folder = "/" not in included or included.startswith(top + "/")
    return own_folder or any(included == entry or (entry.endswith("/") and included.startswith(entry))
                             for entry in entries)


def is_win32_include(kind, included):
    if kind == "<":
        return included.lower() in WINDOWS_HEADERS
    return included.endswith("_win.h")


def is_win32_name(path):
    return os.path.splitext(path)[0].endswith("_win")


def entry_folder(entry):
    return entry.split("/", 1)[0]


def reach(edges, start):
    """Every folder `start` reaches through `edges` ({folder: {folder}})."""
    seen, todo = set(), [start]
    while todo:
        for nxt in edges.get(todo.pop(), ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def circles(edges):
    """Each group of folders that reach one another, once, sorted: a group
    of more than one folder has no bottom floor."""
    reaches = {folder: reach(edges, folder) for folder in edges}
    groups = []
    for folder in sorted(edges):
        group = sorted(f for f in reaches[folder] if folder in reaches.get(f, ()))
        if group and group not in groups:
            groups.append(group)
    return groups


def problems(root):
    found = []
    deps = {}
    edges = {}
    for top, path in source_files(root):
        if top not in deps:
            deps[top] = read_deps(os.path.join(root, top))
            if deps[top] is None:
                found.append(f"{top}/: has sources but no DEPS file saying what it may include")
        for number, kind, included in includes(os.path.join(root, path)):
            where = f"{path}:{number}"
            if kind == '"' and "/" in included and entry_folder(included) != top:
                edges.setdefault(top, set()).add(entry_folder(included))
            if kind == '"' and deps[top] is not None and not allowed(included, top, deps[top]):
                found.append(f"{where}: includes {included}, which {top}/DEPS does not allow "
                             f"(allowed: {', '.join(deps[top]) or 'nothing outside ' + top + '/'})")
            if is_win32_include(kind, included) and not is_win32_name(path):
                found.append(f"{where}: includes {included}, so it is Win32 code and its name "
                             "must end in _win")
    # A folder without sources yet still declares where it stands.
    for top in sorted(os.listdir(root)):
        if top not in deps and not top.startswith(".") and top not in SKIPPED_FOLDERS:
            deps[top] = read_deps(os.path.join(root, top))
    for top, entries in deps.items():
        for entry in entries or ():
            if entry_folder(entry) != top:
                edges.setdefault(top, set()).add(entry_folder(entry))
    for circle in circles(edges):
        found.append(f"{', '.join(f + '/' for f in circle)}: each reaches the others (by DEPS "
                     "or includes), a circle with no bottom floor")
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))
    found = problems(root)
    for problem in found:
        print(problem)
    print(f"{len(found)} layering problem(s)" if found else "layers: every include points down")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
