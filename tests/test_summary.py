"""Ends the test command with what ctest's JUnit file says: the skipped tests
grouped by the reason each printed, then one closing line of counts, so that a
green run with skips is never taken for a full one.

    python3 tests/test_summary.py RESULTS.xml
"""
import collections
import sys
import xml.etree.ElementTree as ElementTree


def skip_reason(case):
    """The test's own "skipped: ..." line, or ctest's reason."""
    for line in (case.findtext("system-out") or "").splitlines():
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
    skipped = case.find("skipped")
    return skipped.get("message", "no reason given") if skipped is not None else "no reason given"


def main(path):
    cases = ElementTree.parse(path).getroot().iter("testcase")
    counts = collections.Counter()
    skipped = collections.defaultdict(list)
    for case in cases:
        status = case.get("status")
        counts[status] += 1
        if status == "notrun":
            skipped[skip_reason(case)].append(case.get("name"))
    for reason, names in skipped.items():
        count = f"{len(names)} test" + ("s" if len(names) > 1 else "")
        print(f"skipped {count} ({', '.join(names)}): {reason}")
    print(f"tests: {counts['run']} passed, {counts['fail']} failed, {counts['notrun']} skipped")


if __name__ == "__main__":
    main(*sys.argv[1:])
