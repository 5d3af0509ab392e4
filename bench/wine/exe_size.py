"""Size of the 32-bit exe, broken down by section and by resource."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests"))
import pe_file  # noqa: E402


def print_rows(path):
    size = os.path.getsize(path)
    pe = pe_file.load(path)
    ratio = size / (64 * 1024)
    print(f"| 32-bit exe, untagged | {size} B | 65536 B (64 KB budget) | {ratio:.3f} | ≤ 1.00 | |")
    for name, _, virtual_size, _, raw_size in pe.sections:
        print(f"| section {name} | {raw_size} B in the file | | | | {virtual_size} B in memory |")
    for resource_type, name, _, leaf_size in pe.resources():
        label = pe_file.RESOURCE_TYPES.get(resource_type, resource_type)
        print(f"| resource {label} {name} | {leaf_size} B | | | | |")


if __name__ == "__main__":
    print_rows(sys.argv[1])
