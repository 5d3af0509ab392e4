"""Writes bench/README.md from one run's outputs: the native tag-check
benchmark's console output and the Wine benchmarks' Markdown rows."""
import datetime
import os
import platform
import re
import sys


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{os.cpu_count()} × {model}, Linux {platform.release()}"


def tag_check_row(native_output):
    ours = re.search(r"^TagCheck\s+([\d.]+) us", native_output, re.M)
    openssl = re.search(r"^OpenSslVerify\s+([\d.]+) us", native_output, re.M)
    allocations = re.search(r"heap allocations in the tag check: (\d+)", native_output)
    if not (ours and openssl and allocations):
        raise SystemExit("write_readme: the tag check benchmark's output lacks its figures")
    value, floor = float(ours.group(1)), float(openssl.group(1))
    return (f"| tag check: SHA-256 of 767 bytes + signature (native) | {value:.1f} µs | {floor:.1f} µs "
            f"| {value / floor:.2f} | ≤ 6, no heap | OpenSSL RSA-2048 verify as the floor; "
            f"{allocations.group(1)} heap allocations |")


def main():
    native_path, wine_path, out_path = sys.argv[1:4]
    with open(native_path) as f:
        native = f.read()
    with open(wine_path) as f:
        wine_rows = [line for line in f.read().splitlines() if line.startswith("|")]
    header, rule, rows = wine_rows[0], wine_rows[1], wine_rows[2:]
    text = f"""# Benchmarks

Each figure stands beside its floor, measured in the same run on the same
machine: absolute times on a shared machine mean little, the ratio does.
Not part of the tests; no test asserts a time.

- command: `bash bench/run.sh`
- date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC
- machine: {machine()}; Wine runs the 64-bit build, on Xvfb

{header}
{rule}
{tag_check_row(native)}
""" + "\n".join(rows) + "\n"
    with open(out_path + ".tmp", "w") as f:
        f.write(text)
    os.replace(out_path + ".tmp", out_path)


if __name__ == "__main__":
    main()
