#!/usr/bin/env python3
"""Writes the seed corpus of parse_frame_fuzz: a few valid frames of different
shapes. Run once from this directory: ./make_parse_frame_corpus.py"""
import os
import struct

RMC = b"$GPRMC,123519,A,4827.4068,N,01131.0000,E,022.4,084.4,230324,003.1,W*6A\r\n"
REPORTS = (b"  " + b">RAL43200+01234-01237".ljust(28) +
           b">RPV43201+3745678-1223456701227056".ljust(41) +
           b">RST ABC12 F".ljust(21) + b">RTM123456   23032024013091")


def record(tag, payload):
    return tag + b"\0" + struct.pack("<i", len(payload)) + payload


def frame(channels, width, samples, mde=False, checksum=True, gps=RMC, reports=REPORTS):
    mod = bytearray(184)
    mod[0:12] = b"KESTREL6CH24V1.1.4"[:12]
    mod[12:18], mod[19:23] = b"V1.1.4", b"S123"
    struct.pack_into("<IHhH2shhh2s3i3i4h4h2s", mod, 32, 4711, channels, 100 * channels, width,
                     b"F3", 5, 4, 0, b"HG", 0x1FFFFFFF, 2, 3, 10, 20, 30, 2700, 170, 250, 0,
                     1000, 2000, 3000, 4000, b"AC")
    struct.pack_into("<i", mod, 108, 12)
    mod[112:184] = gps.ljust(72)
    out = record(b"MOD", bytes(mod))
    if mde:
        ext = bytearray(180)
        ext[0:8] = b"SN123456"
        struct.pack_into("<3h3i3i6h", ext, 8, 6, 7, 8, 0x1FFFFFFF, 5, 6, 40, 50, 60,
                         *range(250, 256))
        ext[50:180] = reports.ljust(130)[:130]
        out += record(b"MDE", bytes(ext))
    data = bytearray()
    for j in range(samples):
        for k in range(channels):
            value = (j * 0x10307 + k * 0x200101 + 0x8001) & ((1 << (8 * width)) - 1)
            data += value.to_bytes(width, "little")
    out += record(b"DAT", bytes(data))
    if checksum:
        body = out + b"SUM\0" + struct.pack("<i", 4) + b"\x5a\xa5"
        out = body + struct.pack("<H", sum(body) & 0xFFFF)
    return out


SHAPES = {
    "1ch_1byte_rmc_nosum": frame(1, 1, 5, checksum=False),
    "3ch_3byte_rmc_sum": frame(3, 3, 10),
    "6ch_4byte_mde_reports_sum": frame(6, 4, 8, mde=True, gps=b" " * 72),
    "2ch_2byte_mde_rmc_nosum": frame(2, 2, 6, mde=True, checksum=False),
    "4ch_3byte_mde_zero_report_sum": frame(4, 3, 3, mde=True, gps=b"",
                                           reports=b"  >RAL43200+01234-01237".ljust(30) + b"0XYZ34 G"),
    "5ch_1byte_nogps_sum": frame(5, 1, 2, gps=b"$GPGGA,"),
    "6ch_3byte_mde_rmc_sum": frame(6, 3, 40, mde=True),
    "1ch_1byte_3000_samples": frame(1, 1, 3000),
}

if __name__ == "__main__":
    directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "parse_frame")
    os.makedirs(directory, exist_ok=True)
    for name, data in SHAPES.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
