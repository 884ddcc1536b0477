#!/usr/bin/env python3
"""Writes the unit tests' own resource script: a string table of settings chosen to exercise the
loader (long entries, every flag form, numbers, a non-prefixed hex word, unsafe message formats) and
the error dialog.   make_test_rc.py OUT.rc
"""
import sys

KEY = b"Vk4Rb8Zq1Wm7Tc3Y\0"


def scramble(plain):
    return "".join("%02X" % (c ^ KEY[i % 17]) for i, c in enumerate(plain.encode()))


def pattern(length):
    """Text whose every position can be checked: letters in turn."""
    return "".join(chr(ord("a") + i % 26) for i in range(length))


SETTINGS = {
    1024: "00010004",
    1040: pattern(3000),
    1056: "-Dcompiled=1",
    1072: "unit.jar",
    1088: "",
    1104: "01234",
    1120: "-install",
    1136: "-uninstall",
    1152: "-startlauncherinservicemode",
    1184: scramble("com.example.Main"),
    1200: "compiled args",
    1216: "unit-tests.ini",
    1232: "0",
    1248: "1",
    1264: "UnitService",
    1328: "abc",
    1344: "0abc",
    1360: "2",
    # 1376 is left out: a missing entry reads as an empty text, so the flag is true.
    1392: "2",
    1408: "x7",
    1424: "out.log",
    1488: "-3",
    1504: "1",
    1536: "Already %d running %s",
    1552: "File problem: %s",
    1600: "Load %s and %s",
    1616: "Interfaces in %s",
    # Entries outside the settings for LoadSettingText: lengths around the 1024-character steps.
    4000: pattern(65535),
    4016: pattern(1022),
    4032: pattern(1023),
    4048: pattern(1024),
    4064: pattern(2047),
    4080: pattern(2048),
}


def main():
    lines = ['#include <windows.h>', '#include "resource_ids.h"', "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US",
             "STRINGTABLE", "BEGIN"]
    for ident, value in sorted(SETTINGS.items()):
        lines.append('%d, "%s"' % (ident, value.replace('"', '""')))
    lines += ["END", '#include "error_dialog.rc"', ""]
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines))


if __name__ == "__main__":
    main()
