#!/usr/bin/env python3
"""Writes the byte images of settings and snapshot files used by the unit tests.

The images are checked in; run this only to change them, then review the diff
with `od -Ax -tx1z`. Everything is laid out field by field at fixed offsets so
that the files do not depend on the code under test.

Settings file: 632-byte slots, no header.
  0 running, 2 fileMode, 4 timing, 6 messageMode, 8 soundMode, 10 afterMode,
  12 openFile, 14 waitExit, 16 overwrite (int16 LE), 18 title[58],
  76 folder[128], 204 pattern[44], 248 program[128], 376 moveTo[128],
  504 waveFile[128] (CP932, NUL-terminated).
Snapshot file: 144-byte records, no header.
  0 size (uint32 LE), 4 date, 8 time (int32 LE), 12 reserved[4], 16 name[128].
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

SLOT_SIZE = 632
RECORD_SIZE = 144


def text_field(text, width, tail=b""):
    """`text` in CP932 with its terminator, then `tail`, zero-padded to `width`.

    A non-empty `tail` stands for bytes left behind by an earlier, longer
    value: the writer does not clear them and readers must ignore them.
    """
    data = text.encode("cp932") + b"\0" + tail
    assert len(data) <= width, (text, width)
    return data + b"\0" * (width - len(data))


def slot(running, title, folder, *, file_mode=0, timing=1, message_mode=1, sound_mode=1,
         after_mode=0, open_file=0, wait_exit=0, overwrite=0, pattern="", program="",
         move_to="", wave_file="", title_tail=b""):
    data = struct.pack("<9h", running, file_mode, timing, message_mode, sound_mode,
                       after_mode, open_file, wait_exit, overwrite)
    data += text_field(title, 58, title_tail)
    data += text_field(folder, 128)
    data += text_field(pattern, 44)
    data += text_field(program, 128)
    data += text_field(move_to, 128)
    data += text_field(wave_file, 128)
    assert len(data) == SLOT_SIZE
    return data


def record(size, date, time, name, reserved=b"\0\0\0\0", tail=b""):
    data = struct.pack("<Iii", size, date, time) + reserved + text_field(name, 128, tail)
    assert len(data) == RECORD_SIZE
    return data


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


INVOICES = slot(1, "請求書の受信", "/srv/受信", file_mode=1, pattern="*.pdf", sound_mode=2,
                after_mode=2, move_to="/srv/処理済み", wave_file="/usr/share/sounds/chime.wav",
                overwrite=1)
OLD = slot(0, "停止中の監視", "/srv/old", program="/usr/bin/true")
# The title once held a longer text; its old bytes are still there.
LOGS = slot(1, "ログ", "/var/log/app", timing=0, message_mode=0, sound_mode=0,
            program="/usr/local/bin/rotate --now", wait_exit=1, title_tail=b"old title")

# Running, stopped, running: the loader packs the two running entries.
write("dirinfo-two-running.dat", INVOICES + OLD + LOGS)
write("dirinfo-all-stopped.dat", OLD + slot(0, "もう一つ", "/srv/other"))
# A running slot followed by the first 300 bytes of another running slot, as an
# interrupted write of the old program could leave it.
write("dirinfo-short-slot.dat", INVOICES + LOGS[:300])

REPORT = record(1234, 20261206, 150409, "report.txt")
# Reserved bytes are ignored when reading; so is what follows the name's NUL.
SALES = record(99, 20250101, 90000, "売上表.csv", reserved=b"\xde\xad\xbe\xef", tail=b"stale")
BIG = record(0xFFFFFFFF, 20240229, 235959, "data.bin")

write("snapshot-three-records.dir", REPORT + SALES + BIG)
# Two whole records and the first 70 bytes of a third.
write("snapshot-torn-record.dir", REPORT + SALES + BIG[:70])
