#!/usr/bin/env python3
"""Tests of tools/subtitle-maker on pictures and command lines, run by the unit_subtitle test
program (which also compares the tool's records with its own and decodes them with the library):
    python3 tests/unit/subtitle/subtitle_maker_test.py"""

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
loader = importlib.machinery.SourceFileLoader("subtitle_maker", TOOL)
maker = importlib.util.module_from_spec(importlib.util.spec_from_loader("subtitle_maker", loader))
loader.exec_module(maker)


class Pictures(unittest.TestCase):
    def test_binary_and_plain_pgm_with_comments_and_other_maximum_values(self):
        self.assertEqual(maker.parse_pgm(b"P5\n# comment\n3 1\n255\n\x00\x80\xff"),
                         (3, 1, [[0, 128, 255]]))
        self.assertEqual(maker.parse_pgm(b"P2 2 2 15 0 15\n 5 10"), (2, 2, [[0, 255], [85, 170]]))
        self.assertEqual(maker.parse_pgm(b"P5 1 2 65535\n\xff\xff\x00\x00"), (1, 2, [[255], [0]]))
        for broken in (b"P5 4 4 255\n\x00", b"P6 1 1 255\n\x00\x00\x00"):
            with self.assertRaises(maker.MakerError):
                maker.parse_pgm(broken)

    def test_grey_levels_go_to_the_nearest_palette_entry(self):
        self.assertEqual(maker.to_indices([[0, 42, 43, 127, 128, 212, 213, 255]],
                                          (0, 85, 170, 255), False), [[0, 0, 1, 1, 2, 2, 3, 3]])
        self.assertEqual(maker.to_indices([[3, 0]], None, True), [[3, 0]])
        with self.assertRaises(maker.MakerError):
            maker.to_indices([[4]], None, True)


class CommandLine(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.picture = os.path.join(directory.name, "p.pgm")
        self.output = os.path.join(directory.name, "out.sub")
        with open(self.picture, "wb") as handle:
            handle.write(b"P5 2 1 255\n\x00\xff")

    def run_tool(self, *arguments):
        return subprocess.run([sys.executable, TOOL, "-o", self.output] + list(arguments),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_append_adds_records_at_the_end(self):
        p = self.picture
        for arguments in (["--record", p, "0", "2", "0", "0"],
                          ["--append", "--record", p, "3", "5", "8", "9"]):
            result = self.run_tool(*arguments)
            self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.output, "rb") as handle:
            data = handle.read()
        size = struct.unpack("<i", data[72:76])[0]
        self.assertEqual(len(data), 2 * size)
        self.assertEqual(struct.unpack("<2i", data[size:size + 8]), (8, 9))

    def test_bad_requests_fail_with_a_message(self):
        p = self.picture
        for arguments in (["--record", p, "3", "1", "0", "0"],
                          ["--record", p, "0", "4", "0", "0", "--record", p, "2", "5", "0", "0"],
                          ["--record", p, "0", "1", "719", "0"],
                          ["--record", p + ".missing", "0", "1", "0", "0"],
                          ["--palette", "1,2,3", "--record", p, "0", "1", "0", "0"]):
            result = self.run_tool(*arguments)
            self.assertEqual(result.returncode, 2, arguments)
            self.assertIn(b"subtitle-maker:", result.stderr)


if __name__ == "__main__":
    unittest.main()
