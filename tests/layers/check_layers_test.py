#!/usr/bin/env python3
"""The layer checker itself: an upward include, a sideways one and an operating-system
header in the wrong place are each reported with file, line and the two layers; what the
order allows passes."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_layers.py")


class CheckLayersTest(unittest.TestCase):
    def run_on(self, files):
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                full = os.path.join(root, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w") as f:
                    f.write(text)
            done = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
            return done.returncode, done.stdout

    def test_allowed_edges_pass(self):
        code, out = self.run_on({
            "device/a.cpp": '#include "device/a.h"\n#include "protocol/b.h"\n#include <vector>\n',
            "platform/p.cpp": "#include <unistd.h>\n",
            "host/h.cpp": '#include "framework/plugin_abi.h"\n#include "sim/settings.h"\n',
            "sim/s.cpp": '#include "platform/clock.h"\n',
            "ui/tests/t.cpp": '#include "device/d.h"\n#include "sim/sim_port.h"\n#include <unistd.h>\n',
            "tests/e2e/x.cpp": '#include "plugin/app.h"\n',
        })
        self.assertEqual(code, 0, out)

    def test_bad_edges_are_reported_with_file_line_and_layers(self):
        rows = [
            ("serial/s.cpp", '#include "device/kv70_device.h"\n',
             'serial/s.cpp:1: "device/kv70_device.h": serial may not include device'),
            ("framework/f.cpp", '// x\n#include "plugin/app.h"\n',
             'framework/f.cpp:2: "plugin/app.h": framework may not include plugin'),
            ("ui/page.cpp", '#include "operations/op.h"\n',
             'ui/page.cpp:1: "operations/op.h": ui may not include operations'),
            ("sim/d.cpp", '#include "protocol/rom_frame.h"\n',
             'sim/d.cpp:1: "protocol/rom_frame.h": sim may not include protocol'),
            ("host/h.cpp", '#include "device/device.h"\n',
             'host/h.cpp:1: "device/device.h": host may not include device'),
            ("device/x.cpp", '#include "tests/e2e/e2e_harness.h"\n',
             'device/x.cpp:1: "tests/e2e/e2e_harness.h": device may not include tests'),
            ("catalogue/lock.cpp", "#include <sys/file.h>\n",
             "catalogue/lock.cpp:1: <sys/file.h>: only platform may use the operating system, not catalogue"),
        ]
        for path, text, expected in rows:
            with self.subTest(path=path):
                code, out = self.run_on({path: text})
                self.assertEqual(code, 1)
                self.assertIn(expected, out)


if __name__ == "__main__":
    unittest.main()
