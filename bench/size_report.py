#!/usr/bin/env python3
"""Shares of a GNU ld map file (-Wl,-Map) by where the code came from.

  size_report.py MAP [EXE]

Sums the input sections the link kept (after --gc-sections) by library:
JsonCpp, libstdc++, libgcc, libwinpthread, the mingw C runtime and import
libraries, and the launcher's own objects. With link-time optimisation the
launcher and JsonCpp come out of the link as one (launcher_jsoncpp_lto). Prints key=value lines, bytes.
The sums are of section contents before file alignment, so they add up to
a little less than the file size.
"""
import re
import sys

GROUPS = [
    ("jsoncpp", re.compile(r"libjsoncpp_static\.a|jsoncpp")),
    ("libstdcxx", re.compile(r"libstdc\+\+|libsupc\+\+")),
    ("libgcc", re.compile(r"libgcc(_eh)?\.a")),
    ("winpthread", re.compile(r"libwinpthread")),
    ("crt", re.compile(r"libmingw|libmsvcrt|crt2|crtbegin|crtend|libmoldname|dllcrt|libmingwex")),
    ("launcher", re.compile(r"libpimbrel_core\.a|PimbrelLauncher\.dir|launcher\.rc")),
]
# Sections that reach the file; .bss has no bytes in it, debug info is stripped.
KEPT = re.compile(r"^\s*\.(text|rdata|data|pdata|xdata|eh_frame|gcc_except_table|ctors|dtors|tls)")
LINE = re.compile(r"^\s*(\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def group_of(source):
    for name, pattern in GROUPS:
        if pattern.search(source):
            return name
    return "other" if not re.search(r"\.a\(|\.o", source) or "lib" not in source else "imports"


def main():
    sums = {}
    section = None
    for raw in open(sys.argv[1], errors="replace"):
        line = raw.rstrip("\n")
        head = re.match(r"^ (\.\S+)\s*$", line)
        if head:  # a section name alone; its address, size and file follow on the next line
            section = head.group(1)
            continue
        match = LINE.match(line)
        if not match:
            section = None
            continue
        name = match.group(1) or section
        section = None
        if not name or not KEPT.match(name) or int(match.group(2), 16) == 0:
            continue
        size = int(match.group(3), 16)
        source = match.group(4).strip()
        if size == 0 or source.startswith("0x") or "=" in source:
            continue
        if "ltrans" in source:  # link-time optimised: the launcher and JsonCpp merged
            group = "launcher_jsoncpp_lto"
        elif re.search(r"lib\w+\.a\(d\d+\.o\)|\(\w+s\d+\.o\)|lib(kernel32|user32|gdi32|gdiplus|wininet|shell32|ole32|advapi32)\.a", source):
            group = "imports"
        else:
            group = group_of(source)
        sums[group] = sums.get(group, 0) + size
    total = sum(sums.values())
    for name in ["launcher", "jsoncpp", "launcher_jsoncpp_lto", "libstdcxx", "libgcc", "winpthread", "crt", "imports", "other"]:
        print(f"{name}={sums.get(name, 0)}")
    print(f"sections_total={total}")


if __name__ == "__main__":
    main()
