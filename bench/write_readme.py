"""Writes bench/README.md from one run's outputs: the native benchmarks'
console output (the tag check, tag signing, the installer pin check, the
service's work per new tag), the
Wine benchmarks' Markdown rows and the tagging service's rows
(serve_bench.py)."""
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


def tag_signing_rows(native_output):
    rows = []
    for threads in ("1", "2"):
        rates = re.search(rf"^tag signing, {threads} thread\(s\): SoftHSM2 ([\d.]+)/s, PEM ([\d.]+)/s",
                          native_output, re.M)
        if not rates:
            raise SystemExit("write_readme: the tag signing benchmark's output lacks its figures")
        token, pem = 1e6 / float(rates.group(1)), 1e6 / float(rates.group(2))
        rows.append(f"| tag signing through SoftHSM2, {threads} thread(s) sharing one signer (per tag) "
                    f"| {token:.0f} µs | {pem:.0f} µs | {token / pem:.2f} | | the same key as a PEM file "
                    f"as the floor; per tag: one second over the signs per second of all threads |")
    return "\n".join(rows)


INSTALLER_MB = 100
# The same installer's download at 100 Mbit/s.
DOWNLOAD_SECONDS = INSTALLER_MB * 8 / 100


def installer_pin_rows(native_output):
    ours = re.search(r"^PinCheck\S*\s+([\d.]+) ms", native_output, re.M)
    openssl = re.search(r"^OpenSslDgst\S*\s+([\d.]+) ms", native_output, re.M)
    if not (ours and openssl):
        raise SystemExit("write_readme: the installer pin benchmark's output lacks its figures")
    seconds, floor = float(ours.group(1)) / 1000, float(openssl.group(1)) / 1000
    return [
        f"| installer pin check: SHA-256 of a {INSTALLER_MB} MB file (native) | {seconds:.3f} s "
        f"({INSTALLER_MB / seconds:.0f} MB/s) | {floor:.3f} s ({INSTALLER_MB / floor:.0f} MB/s) "
        f"| {seconds / floor:.2f} | | floor: `openssl dgst -sha256` on the same file |",
        f"| time the pin check adds to a {INSTALLER_MB} MB installer | {seconds:.3f} s "
        f"| {DOWNLOAD_SECONDS:.0f} s | {seconds / DOWNLOAD_SECONDS:.3f} | "
        f"| floor: its download at 100 Mbit/s |",
    ]


def serve_tag_rows(native_output):
    """Each part of a new tag beside the signature, from the CPU time column."""
    def cpu_us(name):
        match = re.search(rf"^{name}\s+[\d.]+ us\s+([\d.]+) us", native_output, re.M)
        if not match:
            raise SystemExit(f"write_readme: the per-tag benchmark's output lacks {name}")
        return float(match.group(1))
    signature = cpu_us("Signature")
    own, openssl, whole, prepared, head, answer = (
        cpu_us(name) for name in
        ("OwnCheck", "OpenSslCheck", "WholeCopy", "PreparedCopyWith", "PrepareHead", "ServiceAnswer"))
    return [
        f"| tagging service, per new tag: the signature (PEM key, one core) | {signature:.0f} µs | | | | "
        f"`bench/serve_tag_bench.cpp`, CPU time, on the win32 exe |",
        f"| per new tag: the check of the signature | {openssl:.1f} µs | {signature:.0f} µs | "
        f"{openssl / signature:.3f} | | floor: the signature; OpenSSL's verify; before, the program's own check: "
        f"{own:.0f} µs ({own / signature:.2f}) |",
        f"| per new tag: the copy | {prepared:.1f} µs | {signature:.0f} µs | {prepared / signature:.3f} | | "
        f"floor: the signature; the prepared head copied, the checksum finished over the tag; before, placed whole "
        f"from the exe: {whole:.1f} µs ({whole / signature:.3f}); preparing the head, once per campaign and load: "
        f"{head:.0f} µs |",
        f"| per new tag: the service's whole answer, HTTP and log line aside | {answer:.0f} µs | {signature:.0f} µs | "
        f"{answer / signature:.2f} | | floor: the signature; the request's checks, the payload, the signature, its "
        f"check, the copy, the cache |",
    ]


NOTES = """
## Reading the table

- Start-up: before its window shows, the program decodes three PNGs that the
  floor does not have: the 32-pixel image of its icon (LoadIconA) and the two
  splash images. Under Wine the first PNG decode of each kind also loads the
  image codecs, which is most of the difference to the floor.
- Paint: each frame copies the static layer (background, 23° rotated tiles,
  resized logo, drawn once per window size, DPI and theme), draws the three
  texts over it (laid out once per text change) and blits it. The floor
  makes, fills and blits a fresh bitmap of the window's size each frame;
  the splash copies a ready one, and under Wine comes out below the floor.
  The first frame after a change of size, DPI or theme draws the
  layer as well, which costs about what every frame cost before (Wine's
  GDI+ draws rotated images in software).
- Download: from the moment the request reaches the server until the
  installer process starts; start-up is left out, as it has its own row.
  The unpinned copy, the pinned one and the floor take turns, each in each
  place of the order twice: the one that follows a 64 MB file written and
  deleted meets its writeback. The unpinned program takes no digest; the
  pinned one hashes as the bytes arrive, on the processor's SHA
  instructions (about 40 ms for 64 MB in the twin under Wine). In the runs
  of this table the floor (a windows program, as the setup is, so that no
  console host shares its cores) came out slower than the unpinned program,
  which this benchmark does not explain: both make the same WinINet calls
  and write the same file sizes. The percent rule repaints only when the
  whole percentage changes, so never more than 101 times, however many
  reads the body takes.
- Tag signing: the token signer gives each signing thread a session of its
  own, so two threads sign in parallel where the token can (SoftHSM2 can);
  a machine whose cores are busy elsewhere shows less of it.
- Installer pin check: the program's SHA-256, 64 KB at a time as the exe
  takes it while the bytes are written, from a file in the page cache. It
  uses the processor's SHA instructions where there are any (as OpenSSL
  does), and plain C++ otherwise.
- Memory: the peak working set of the wine process running the program. The
  installer goes to a file, so the peak does not follow its size.
- Tagging service (`bench/serve_bench.py`, wrk with `bench/serve_load.lua`,
  the service and its floors on the same cores, one after the other): a
  unique tag is one RSA-2048 signature, OpenSSL's verify of it, a copy of
  the campaign's prepared head (the base file's bytes before the tag, worked
  out at start and reload) with the PE checksum finished over the tag, and
  the answer. Its floor, `bench/serve_floor.cpp`, is a bare server on the
  same HTTP library, threads and wrk that signs a fresh 767-byte payload and
  answers the base file and a 1024-byte tail: the mandated work, nothing
  else. Before, a unique tag also cost the program's own check (about four
  times OpenSSL's verify) and the copy placed whole from the base file.
  Beside the floor the service also checks the request, builds the payload,
  keeps the copy in its cache, counts and logs. Counted by callgrind over
  100 new tags (the win32 exe, one thread, one connection), a new tag costs
  the service 6.93 million instructions and the floor 6.57 million (0.95):
  OpenSSL's verify is 0.32 million of the difference, the request's checks
  and payload 0.014 million, the log line 0.018 million. On a machine shared with
  other work the unique rates of the service and its floor swing from one
  run to the next (here the ratio moved between 0.6 and 1.1); the CPU time
  per tag, read from /proc, moves far less and is the steadier comparison. A repeat is a cache lookup and a send. The
  p99 row is paced to half the unique rate; on a machine shared with other
  work its tail is the scheduler's. RSS is read from /proc before and after
  a million repeats over 1000 codes. Behind nginx's proxy_cache
  (`service/nginx-cache.conf`), only the first request for each URL reaches
  the service.
"""


def main():
    native_path, wine_path, serve_path, out_path = sys.argv[1:5]
    with open(native_path) as f:
        # The benchmark library may colour its table even into a file.
        native = re.sub(r"\x1b\[[0-9;]*m", "", f.read())
    with open(wine_path) as f:
        wine_rows = [line for line in f.read().splitlines() if line.startswith("|")]
    header, rule, rows = wine_rows[0], wine_rows[1], wine_rows[2:]
    with open(serve_path) as f:
        rows += [line for line in f.read().splitlines() if line.startswith("|")]
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
{tag_signing_rows(native)}
""" + "\n".join(installer_pin_rows(native) + rows + serve_tag_rows(native)) + "\n" + NOTES
    with open(out_path + ".tmp", "w") as f:
        f.write(text)
    os.replace(out_path + ".tmp", out_path)


if __name__ == "__main__":
    main()
