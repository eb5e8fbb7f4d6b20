#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets, one folder per target.

The seeds are checked in; run this only to change them. They are the golden
files of ../data plus small inputs made by hand to reach each rule of the
readers quickly. The fuzzer's own findings go to its build folder, not here.

Input formats, besides the plain file contents for settings_file and
snapshot (whose leading bytes up to a NUL or '/' also serve as a file name):
  wildcard:     pattern, NUL, name
  command_line: the line
  cp932:        width byte (field width 1 + byte % 160), fill byte, text
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def golden(target, name):
    with open(os.path.join(DATA, name), "rb") as f:
        write(target, name, f.read())


def field(raw, width):
    """`raw` bytes zero-padded to `width`, with no terminator added."""
    assert len(raw) <= width
    return raw + b"\0" * (width - len(raw))


def slot(running=1, ints=(1, 1, 1, 1, 0, 0, 0, 0), title=b"t\0", folder=b"/srv\0",
         pattern=b"*.txt\0", program=b"\0", move_to=b"\0", wave=b"\0"):
    return (struct.pack("<H8h", running, *ints) + field(title, 58) + field(folder, 128)
            + field(pattern, 44) + field(program, 128) + field(move_to, 128) + field(wave, 128))


def record(name, size=1, date=20250101, time=120000, reserved=b"\0" * 4):
    return struct.pack("<Iii", size, date, time) + reserved + field(name, 128)


def settings_file():
    for name in ("dirinfo-two-running.dat", "dirinfo-all-stopped.dat", "dirinfo-short-slot.dat"):
        golden("settings_file", name)
    write("settings_file", "title-fills-field", slot(title=b"T" * 58))
    # A two-byte character cut by the end of the title's room.
    write("settings_file", "title-split-char", slot(title=b"T" * 55 + b"\x90\xBF\0"))
    write("settings_file", "folder-bad-cp932", slot(folder=b"/srv/\x81\x20\xFF\0"))
    write("settings_file", "look-alike-tilde", slot(title=b"a\x81\x60\0", folder=b"/a\x81\x60\0"))
    write("settings_file", "nec-ibm-duplicates", slot(folder=b"/\xED\x40\xFA\x5C\x87\x54\0"))
    write("settings_file", "odd-running-and-modes",
          slot(running=0x0100, ints=(-1, 2, 3, -32768, 32767, 5, 6, 7)))
    write("settings_file", "stale-tails", slot(title=b"a\0old title", pattern=b"*\0.txt"))


def snapshot():
    for name in ("snapshot-three-records.dir", "snapshot-torn-record.dir"):
        golden("snapshot", name)
    write("snapshot", "name-fills-field", record(b"n" * 128))
    write("snapshot", "name-ends-in-lead-byte", record(b"n" * 126 + b"\x81\x40"))
    write("snapshot", "same-name-twice", record(b"a.txt\0") + record(b"a.txt\0", size=2))
    write("snapshot", "hashed-key", record(b"long/0123456789abcdef0123456789abcdef\0"))
    write("snapshot", "bad-cp932-name", record(b"\x81\x20\xFF\xA0\x80\0"))
    # Leading bytes as file names: no CP932 form, too long, look-alikes.
    write("snapshot", "file-name-emoji", "\U0001F600.txt".encode())
    write("snapshot", "file-name-long", ("長い名前" * 20 + ".txt").encode())
    write("snapshot", "file-name-wave-dash", "a〜b.txt".encode())
    write("snapshot", "file-name-not-utf8", b"\xFF\xFEname\0")


def wildcard():
    cases = [("*.txt", "report.TXT"), ("abc*.*", "abc"), ("abc.*", "abc.txt"),
             ("?.log", "日.log"), ("日本*.txt", "日本語.txt"), ("*a*b", "ab_ab_a"),
             ("*", "x"), ("a?c", "abbc"), ("", "")]
    for i, (pattern, name) in enumerate(cases):
        write("wildcard", "case-%02d" % i, pattern.encode() + b"\0" + name.encode())
    write("wildcard", "invalid-bytes", b"?\xe3\x81*\0\xe3\x81\xe3\x81\x81x")


def command_line():
    lines = [
        '"C:\\Program Files\\x.exe" -a "b c"',
        'prog a\\\\\\"b "c\\\\" d',
        'p "" x',
        'p "a""b" "c""',
        ' \t p  \t q',
        '/usr/bin/lp -d office',
        'p "unclosed quote',
        'p\\ a\\b \\\\"x y"',
    ]
    for i, line in enumerate(lines):
        write("command_line", "line-%02d" % i, line.encode())


def cp932():
    def case(name, width, text, fill=0xAA):
        write("cp932", name, bytes([(width - 1) % 160, fill]) + text)

    case("title", 58, "請求書の受信".encode("cp932"))
    case("too-long", 128, b"a" * 130)
    case("lone-lead-byte", 2, b"\x81")
    case("split-at-end", 4, b"ab\x81\x40")
    case("bad-trail", 10, b"\x81\x20abc\xFF")
    case("half-width", 8, "ｱｲｳ".encode("cp932"))
    case("nec-ibm", 16, b"\xED\x40\xFA\x5C\x87\x40")
    case("utf8-japanese", 32, "日本語のファイル名.txt".encode())
    case("utf8-look-alikes", 32, "〜～¥‖−".encode())
    case("utf8-no-form", 32, "\U0001F600한€".encode())


settings_file()
snapshot()
wildcard()
command_line()
cp932()
