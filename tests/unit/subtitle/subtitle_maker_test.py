#!/usr/bin/env python3
"""Unit tests of tools/subtitle-maker's encoder, run by the unit_subtitle test program:
    python3 tests/unit/subtitle/subtitle_maker_test.py
Expected bytes are worked out by hand from the record format."""

import importlib.machinery
import importlib.util
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools",
                    "subtitle-maker")


def load_tool():
    loader = importlib.machinery.SourceFileLoader("subtitle_maker", TOOL)
    spec = importlib.util.spec_from_loader("subtitle_maker", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


maker = load_tool()


def read_bytes(path):
    with open(path, "rb") as handle:
        return handle.read()


class RunCodes(unittest.TestCase):
    def test_each_length_takes_its_shortest_code(self):
        self.assertEqual(maker.run_nibbles(1, 0), [0x4])
        self.assertEqual(maker.run_nibbles(3, 3), [0xF])
        self.assertEqual(maker.run_nibbles(4, 1), [0x1, 0x1])
        self.assertEqual(maker.run_nibbles(15, 2), [0x3, 0xE])
        self.assertEqual(maker.run_nibbles(16, 0), [0x0, 0x4, 0x0])
        self.assertEqual(maker.run_nibbles(63, 3), [0x0, 0xF, 0xF])
        self.assertEqual(maker.run_nibbles(64, 1), [0x0, 0x1, 0x0, 0x1])
        self.assertEqual(maker.run_nibbles(255, 2), [0x0, 0x3, 0xF, 0xE])

    def test_zero_length_is_the_sixteen_bit_line_end(self):
        self.assertEqual(maker.run_nibbles(0, 3), [0, 0, 0, 3])

    def test_lengths_out_of_range_are_refused(self):
        with self.assertRaises(maker.MakerError):
            maker.run_nibbles(256, 0)
        with self.assertRaises(maker.MakerError):
            maker.run_nibbles(5, 4)


class Rows(unittest.TestCase):
    def test_half_used_byte_is_padded(self):
        # 1 x colour 2 (0x6), 2 x colour 3 (0xB), then 1 x colour 1 (0x5): three nibbles.
        self.assertEqual(maker.encode_row([2, 3, 3, 1], "explicit"), bytes([0x6B, 0x50]))

    def test_last_run_as_line_end(self):
        # 1 x colour 2, then colour 1 to the end of the line: 0x6 0x0 0x0 0x0 0x1 + pad.
        self.assertEqual(maker.encode_row([2, 1, 1, 1], "zero"), bytes([0x60, 0x00, 0x10]))

    def test_runs_longer_than_255_are_split(self):
        row = [1] * 300
        # 255 x colour 1 = 0x03FD, 45 x colour 1 = 0x0B5 (12-bit).
        self.assertEqual(maker.encode_row(row, "explicit"),
                         bytes([0x03, 0xFD, 0x0B, 0x50]))
        # With the line end, the whole row is one end code.
        self.assertEqual(maker.encode_row(row, "zero"), bytes([0x00, 0x01]))

    def test_fields_hold_even_and_odd_rows(self):
        top, bottom = maker.encode_fields([[1], [2], [3]], "explicit")
        self.assertEqual(top, bytes([0x50, 0x70]))
        self.assertEqual(bottom, bytes([0x60]))


class Records(unittest.TestCase):
    def test_header_fields(self):
        rows = [[0, 1, 2], [3, 3, 3]]
        record = maker.make_record(rows, 1.5, 4.0, 10, 20, palette=(1, 2, 3, 4),
                                   visible=(0, 1, 0, 1), line_end="explicit")
        fields = struct.unpack("<6i4i4I2f3i", record[:76])
        self.assertEqual(fields[:6], (10, 20, 13, 22, 3, 2))
        self.assertEqual(fields[6:10], (1, 0, 1, 0))  # visibility of indices 3, 2, 1, 0
        self.assertEqual(fields[10:14], (0x400, 0x300, 0x200, 0x100))
        self.assertEqual(fields[14:16], (1.5, 4.0))
        top = bytes([0x45, 0x60])      # 1 x 0, 1 x 1, 1 x 2, pad
        bottom = bytes([0xF0])         # 3 x 3, pad
        self.assertEqual(fields[16:], (76, 76 + len(top), 76 + len(top) + len(bottom)))
        self.assertEqual(record[76:], top + bottom)

    def test_pictures_must_fit_the_screen_and_the_record_area(self):
        with self.assertRaises(maker.MakerError):
            maker.make_record([[1] * 721], 0, 1, 0, 0)
        with self.assertRaises(maker.MakerError):
            maker.make_record([[1] * 10], 0, 1, 711, 0)
        with self.assertRaises(maker.MakerError):
            maker.make_record([[1]] * 10, 0, 1, 0, 567)
        # Alternating colours on every pixel of 720 x 200: half a byte each, over 64 KiB.
        noisy = [[(x + y) % 2 for x in range(720)] for y in range(200)]
        with self.assertRaises(maker.MakerError):
            maker.make_record(noisy, 0, 1, 0, 0)


class Pictures(unittest.TestCase):
    def test_binary_and_plain_pgm_with_comments_and_other_maximum_values(self):
        self.assertEqual(maker.parse_pgm(b"P5\n# comment\n3 1\n255\n\x00\x80\xff"),
                         (3, 1, [[0, 128, 255]]))
        self.assertEqual(maker.parse_pgm(b"P2 2 2 15 0 15\n 5 10"), (2, 2, [[0, 255], [85, 170]]))
        self.assertEqual(maker.parse_pgm(b"P5 1 2 65535\n\xff\xff\x00\x00"), (1, 2, [[255], [0]]))
        with self.assertRaises(maker.MakerError):
            maker.parse_pgm(b"P5 4 4 255\n\x00")
        with self.assertRaises(maker.MakerError):
            maker.parse_pgm(b"P6 1 1 255\n\x00\x00\x00")

    def test_grey_levels_go_to_the_nearest_palette_entry(self):
        rows = [[0, 42, 43, 127, 128, 212, 213, 255]]
        self.assertEqual(maker.to_indices(rows, (0, 85, 170, 255), False),
                         [[0, 0, 1, 1, 2, 2, 3, 3]])
        self.assertEqual(maker.to_indices([[3, 0]], None, True), [[3, 0]])
        with self.assertRaises(maker.MakerError):
            maker.to_indices([[4]], None, True)


class CommandLine(unittest.TestCase):
    def run_tool(self, *arguments):
        return subprocess.run([sys.executable, TOOL] + list(arguments), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def test_records_in_order_are_written_back_to_back(self):
        with tempfile.TemporaryDirectory() as directory:
            picture = os.path.join(directory, "p.pgm")
            with open(picture, "wb") as handle:
                handle.write(b"P5 2 1 255\n\x00\xff")
            output = os.path.join(directory, "out.sub")
            result = self.run_tool("-o", output, "--record", picture, "0", "2", "0", "0",
                                   "--record", picture, "3", "5", "8", "9")
            self.assertEqual(result.returncode, 0, result.stderr)
            data = read_bytes(output)
            size = struct.unpack("<i", data[72:76])[0]
            self.assertEqual(len(data), 2 * size)
            self.assertEqual(struct.unpack("<2i", data[size:size + 8]), (8, 9))
            # --append adds to the end.
            result = self.run_tool("-o", output, "--append", "--record", picture, "6", "7", "0",
                                   "0")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(len(read_bytes(output)), 3 * size)

    def test_bad_requests_fail_with_a_message(self):
        with tempfile.TemporaryDirectory() as directory:
            picture = os.path.join(directory, "p.pgm")
            with open(picture, "wb") as handle:
                handle.write(b"P5 2 1 255\n\x00\xff")
            output = os.path.join(directory, "out.sub")
            for arguments in (["--record", picture, "3", "1", "0", "0"],
                              ["--record", picture, "0", "4", "0", "0",
                               "--record", picture, "2", "5", "0", "0"],
                              ["--record", picture, "0", "1", "719", "0"],
                              ["--record", os.path.join(directory, "none.pgm"), "0", "1", "0",
                               "0"],
                              ["--palette", "1,2,3", "--record", picture, "0", "1", "0", "0"]):
                result = self.run_tool("-o", output, *arguments)
                self.assertEqual(result.returncode, 2, arguments)
                self.assertIn(b"subtitle-maker:", result.stderr)


if __name__ == "__main__":
    unittest.main()
