"""Size of the 32-bit exe, broken down by section and by resource."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests"))
import pe_file  # noqa: E402
from exe_size_limits import EXE_SIZE_GOAL  # noqa: E402


def print_rows(path):
    size = os.path.getsize(path)
    pe = pe_file.load(path)
    ratio = size / EXE_SIZE_GOAL
    print(f"| 32-bit exe, untagged | {size} B | {EXE_SIZE_GOAL} B ({EXE_SIZE_GOAL // 1024} KB goal) "
          f"| {ratio:.3f} | ≤ 1.00 | |")
    for what, size_in_file, note in pe.size_breakdown():
        print(f"| {what} | {size_in_file} B | | | | {note} |")


if __name__ == "__main__":
    print_rows(sys.argv[1])
