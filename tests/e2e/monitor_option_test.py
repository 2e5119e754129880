#!/usr/bin/env python3
"""A plug-in built with -DKV70_MONITOR_IMAGE=FILE and the standard plug-in given FILE at
run time upload the same program: the two wire traces agree line for line after their
opening note, which names where each image came from.

The image is not the simulator's own program, so both runs end in failure 806 after the
upload: neither can have sent the embedded stand-in.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
HANG_GUARD_S = 120


class MonitorOptionTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="monitor-option-")
        self.env = dict(os.environ)
        self.env["HOME"] = self.dir
        self.env["VELMORA_REGISTRY"] = os.path.join(self.dir, "registry.db")
        for name in ["VELMORA_DATA", "VELMORA_KV70_MONITOR"] + ["VELMORA_COM%d" % n for n in range(1, 7)]:
            self.env.pop(name, None)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_config(self, name, *extra):
        trace = os.path.join(self.dir, name + ".txt")
        result = subprocess.run([ARGS.velmora, "run", "config", "--device", "sim", "--trace", trace] +
                                list(extra), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                env=self.env, timeout=HANG_GUARD_S)
        with open(trace) as f:
            return result.returncode, result.stdout + result.stderr, f.read().splitlines()

    def test_the_option_and_a_run_time_file_upload_the_same_chunks(self):
        image = os.path.abspath(ARGS.image)
        code, out, built_in = self.run_config("option", "--plugin", ARGS.plugin)
        self.assertEqual(code, 1, out)
        self.assertIn("[806]", out)
        code, out, from_file = self.run_config("file", "--monitor-image", image)
        self.assertEqual(code, 1, out)
        self.assertIn("[806]", out)
        self.assertEqual(built_in[0],
                         "0 ! monitor-image embedded from the build option KV70_MONITOR_IMAGE (%s)" % image)
        self.assertEqual(from_file[0], "0 ! monitor-image file " + image)
        self.assertEqual(built_in[1:], from_file[1:])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--image", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
