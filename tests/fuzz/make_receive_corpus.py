#!/usr/bin/env python3
"""Writes the seeds of receive_fuzz that reach a full receive buffer: streams of
the largest frames (six channels of 500 three-byte samples with MDE), damaged
tags and samples, tags inside samples, memory read captures amid frames and
past the buffer's end, boot loader lines, and mode switches between chunks.
Each seed is two bytes (modes, cut seed) and the stream. Run once from this
directory: ./make_receive_corpus.py"""
import os

from make_parse_frame_corpus import frame


def reseal(data):
    """Recomputes the checksum of a frame that ends with its SUM record."""
    data = bytearray(data)
    total = sum(data[:-2]) & 0xFFFF
    data[-2:] = total.to_bytes(2, "little")
    return bytes(data)


def largest(tag_in_samples=False):
    data = bytearray(frame(6, 3, 500, mde=True))
    if tag_in_samples:
        data[4000:4003] = b"MOD"
    return reseal(data)


def small(tag_in_samples=False):
    data = bytearray(frame(3, 3, 50))
    if tag_in_samples:
        data[300:303] = b"MOD"
    return reseal(data)


def damaged_tag(data):
    return b"MXD" + data[3:]


def damaged_sample(data):
    data = bytearray(data)
    data[len(data) // 2] ^= 0x5A
    return bytes(data)


def seed(modes, cuts, *parts):
    return bytes([modes, cuts]) + b"".join(parts)


BIG, BIG_TAG, SMALL, SMALL_TAG = largest(), largest(True), small(), small(True)
CAPTURE = b"$UR" + b"A1234567" + b"$BH"

SEEDS = {
    "large_frames": seed(0x00, 0x11, BIG, BIG, BIG, BIG, b"MOD"),
    "large_damaged_tag": seed(0x00, 0x23, BIG, damaged_tag(BIG), BIG, BIG, b"MOD"),
    "large_tags_in_samples": seed(0x00, 0x35, BIG_TAG, damaged_sample(BIG), BIG_TAG, BIG, b"MOD"),
    "large_three_damaged": seed(0x00, 0x47, BIG, damaged_sample(BIG), damaged_tag(BIG),
                                damaged_sample(BIG_TAG), BIG, b"MOD"),
    "small_damaged_in_a_row": seed(0x00, 0x59, SMALL, damaged_sample(SMALL), damaged_tag(SMALL),
                                   damaged_sample(SMALL), SMALL_TAG, SMALL, b"MOD"),
    "capture_amid_frames": seed(0x08, 0x6B, b"MOD", b"x" * 4997, b"MOD", CAPTURE, b"MOD",
                                b"y" * 17000, SMALL, SMALL, b"MOD"),
    "capture_past_the_buffer": seed(0x08, 0x7D, SMALL, b"MOD", b"$UR", b"c" * 20000, b"$BH",
                                    BIG, BIG, b"MOD"),
    "boot_wait_lines": seed(0x01, 0x8F, BIG[:6000], b"\r\nBoot loader 2.1\r\n", b"z" * 17000,
                            b"Ready.\r\n", SMALL, SMALL, b"MOD"),
    "tag_cut_by_the_buffer_end": seed(0x00, 0x91, b"x" * 15998, SMALL, SMALL, b"MOD"),
    "modes_switching_amid_frames": seed(0x3A, 0xA3, BIG, CAPTURE, BIG_TAG, b"Ready.\r\n", BIG,
                                        b"$DR\x68\xac", SMALL, b"$CA", SMALL, b"MOD"),
}

if __name__ == "__main__":
    directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "receive")
    os.makedirs(directory, exist_ok=True)
    for name, data in SEEDS.items():
        assert len(data) <= 65536, name
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
