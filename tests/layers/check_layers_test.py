#!/usr/bin/env python3
"""The layer checker itself: an upward include (quoted, angled or relative), a sideways
one, an operating-system header in the wrong place (any letter case, sockets too, test
helpers included) and an upward CMake link are each reported with file, line and the two
layers; what the order allows passes."""
import contextlib
import importlib.util
import io
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_layers.py")
_spec = importlib.util.spec_from_file_location("check_layers", CHECKER)
check_layers = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_layers)


class CheckLayersTest(unittest.TestCase):
    def run_on(self, files, as_program=False):
        """The checker's exit status and output over a tree of `files`; in this process
        unless `as_program` (a new interpreter costs seconds on a loaded machine)."""
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                full = os.path.join(root, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w") as f:
                    f.write(text)
            if as_program:
                done = subprocess.run([sys.executable, CHECKER, root], capture_output=True,
                                      text=True)
                return done.returncode, done.stdout
            out = io.StringIO()
            argv = sys.argv
            try:
                sys.argv = [CHECKER, root]
                with contextlib.redirect_stdout(out):
                    code = check_layers.main()
            finally:
                sys.argv = argv
            return code, out.getvalue()

    def test_the_program_reports_and_fails(self):
        code, out = self.run_on({"serial/s.cpp": '#include "device/d.h"\n'}, as_program=True)
        self.assertEqual(code, 1)
        self.assertIn('serial/s.cpp:1: "device/d.h": serial may not include device', out)
        code, out = self.run_on({"device/d.cpp": '#include "serial/s.h"\n'}, as_program=True)
        self.assertEqual(code, 0, out)

    def test_allowed_edges_pass(self):
        code, out = self.run_on({
            "device/a.cpp": '#include "device/a.h"\n#include "protocol/b.h"\n#include <vector>\n',
            "platform/posix/p.cpp": "#include <unistd.h>\n",
            "platform/p.cpp": '#include "platform/p.h"\n#include <string>\n',
            # The project's own header named like the system's, beside the file, is the project's.
            "platform/winbase.h": "#include <cstdint>\n",
            "platform/sync.h": '#include "winbase.h"\n',
            "host/h.cpp": '#include "framework/plugin_abi.h"\n#include "sim/settings.h"\n',
            "sim/s.cpp": '#include "platform/clock.h"\n',
            "ui/tests/t.cpp": '#include "device/d.h"\n#include "sim/sim_port.h"\n#include <unistd.h>\n',
            "tests/e2e/x.cpp": '#include "plugin/app.h"\n',
            # The programs that are not the plug-in, and tests, use the operating system.
            "host/terminal/c.cpp": "#include <poll.h>\n#include <signal.h>\n#include <io.h>\n",
            "sim/net.cpp": "#include <arpa/inet.h>\n#include <sys/socket.h>\n#include <netinet/tcp.h>\n",
            "platform/win32/api/a.cpp": "#include <Windows.h>\n#include <winsock2.h>\n",
            "platform/win32/w.cpp": "#include <io.h>\n",
            "platform/testing/t.cpp": "#include <termios.h>\n",
            "serial/tests/pty.cpp": "#include <asm/termbits.h>\n#include <sys/ioctl.h>\n",
            "bench/b.cpp": "#include <unistd.h>\n",
            # Standard and package headers named like a folder of the tree are not it.
            "device/b.cpp": "#include <csignal>\n#include <gtest/gtest.h>\n#include <QtCore/qglobal.h>\n",
            "device/c.cpp": '#include "../models/m.h"\n#include <models/m.h>\n',
            "CMakeLists.txt": "add_library(framework SHARED)\n",
            "platform/CMakeLists.txt": (
                "add_library(platform OBJECT a.cpp)\n"
                "target_link_libraries(framework PRIVATE platform)\n"
                "add_library(platform_testing STATIC testing/t.cpp)\n"
                "target_link_libraries(platform_testing PUBLIC framework)  # (a comment)\n"),
            "serial/CMakeLists.txt": (
                "kv70_add_layer(kv70_serial SOURCES s.cpp LINKS framework)\n"
                "kv70_add_test(serial_tests SOURCES tests/t.cpp LIBS kv70_serial platform_testing\n"
                "  LABELS unit)\n"),
            "plugin/CMakeLists.txt": (
                "kv70_add_layer(kv70_plugin SOURCES p.cpp LINKS kv70_serial)\n"
                "add_library(DevKV70 SHARED exports.cpp)\n"
                'target_link_libraries(DevKV70 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,kv70_plugin>"'
                " framework Threads::Threads)\n"),
            "sim/CMakeLists.txt": (
                "add_library(kv70sim_lib STATIC d.cpp)\ntarget_link_libraries(kv70sim_lib PUBLIC framework)\n"
                "kv70_add_test(sim_tests SOURCES tests/s.cpp LIBS kv70sim_lib kv70_serial)\n"),
            "host/CMakeLists.txt": "add_library(velmora_core c.cpp)\n"
                                   "target_link_libraries(velmora_core PUBLIC framework kv70sim_lib)\n",
            "bench/CMakeLists.txt": "add_executable(b b.cpp)\n"
                                    "target_link_libraries(b PRIVATE kv70_plugin platform_testing)\n",
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
            # A project header in angle brackets, or reached by a relative path.
            ("serial/a.cpp", "#include <device/kv70_device.h>\n",
             "serial/a.cpp:1: <device/kv70_device.h>: serial may not include device"),
            ("models/r.cpp", '#include "../device/kv70_device.h"\n',
             'models/r.cpp:1: "../device/kv70_device.h": models may not include device'),
            ("sim/a.cpp", "#  include <serial/serial_com.h>\n",
             "sim/a.cpp:1: <serial/serial_com.h>: sim may not include serial"),
            # Operating-system headers in any letter case, sockets, quoted ones.
            ("catalogue/w.cpp", "#include <Windows.h>\n",
             "catalogue/w.cpp:1: <Windows.h>: only platform may use the operating system, not catalogue"),
            ("device/n.cpp", "#include <arpa/inet.h>\n",
             "device/n.cpp:1: <arpa/inet.h>: only platform may use the operating system, not device"),
            ("device/s.cpp", "#include <sys/socket.h>\n",
             "device/s.cpp:1: <sys/socket.h>: only platform may use the operating system, not device"),
            ("protocol/t.cpp", "#include <netinet/tcp.h>\n",
             "protocol/t.cpp:1: <netinet/tcp.h>: only platform may use the operating system, not protocol"),
            ("protocol/d.cpp", "#include <netdb.h>\n",
             "protocol/d.cpp:1: <netdb.h>: only platform may use the operating system, not protocol"),
            ("ui/w.cpp", "#include <WinSock2.h>\n",
             "ui/w.cpp:1: <WinSock2.h>: only platform may use the operating system, not ui"),
            ("ui/x.cpp", "#include <ws2tcpip.h>\n",
             "ui/x.cpp:1: <ws2tcpip.h>: only platform may use the operating system, not ui"),
            ("framework/q.cpp", '#include "windows.h"\n',
             'framework/q.cpp:1: "windows.h": only platform may use the operating system, not framework'),
            ("framework/l.cpp", "#include <DLFCN.H>\n",
             "framework/l.cpp:1: <DLFCN.H>: only platform may use the operating system, not framework"),
            ("reporting/p.cpp", "#include <pthread.h>\n",
             "reporting/p.cpp:1: <pthread.h>: only platform may use the operating system, not reporting"),
            # A test helper is under the same rule as the layer's own code.
            ("serial/testing/pty.cpp", "#include <termios.h>\n",
             "serial/testing/pty.cpp:1: <termios.h>: only platform may use the operating system, not serial"),
            ("protocol/testing/line.h", "#include <unistd.h>\n",
             "protocol/testing/line.h:1: <unistd.h>: only platform may use the operating system, not protocol"),
            # platform's portable files know no system: that belongs in posix/ or win32/.
            ("platform/output.cpp", "#include <sys/stat.h>\n",
             "platform/output.cpp:1: <sys/stat.h>: a portable platform file may not use the "
             "operating system; its system's half belongs in platform/posix/ or platform/win32/"),
            ("platform/files.h", "#include <Windows.h>\n",
             "platform/files.h:1: <Windows.h>: a portable platform file may not use the "
             "operating system; its system's half belongs in platform/posix/ or platform/win32/"),
        ]
        for path, text, expected in rows:
            with self.subTest(path=path):
                code, out = self.run_on({path: text})
                self.assertEqual(code, 1)
                self.assertIn(expected, out)

    def test_upward_links_are_reported_with_file_line_and_layers(self):
        tree = {
            "CMakeLists.txt": "add_library(framework SHARED)\n",
            "serial/CMakeLists.txt": "kv70_add_layer(kv70_serial SOURCES s.cpp LINKS framework)\n",
            "device/CMakeLists.txt": "kv70_add_layer(kv70_device SOURCES d.cpp LINKS kv70_serial)\n",
            "protocol/CMakeLists.txt": "add_library(kv70_scripted_line STATIC testing/line.cpp)\n",
            "sim/CMakeLists.txt": "add_library(kv70sim_lib STATIC sim.cpp)\n",
            "host/CMakeLists.txt": "add_library(velmora_core STATIC core.cpp)\n",
        }
        code, out = self.run_on(tree)
        self.assertEqual(code, 0, out)
        rows = [
            ("serial/CMakeLists.txt", "kv70_add_layer(kv70_serial2 SOURCES a.cpp\n  LINKS kv70_device)\n",
             "serial/CMakeLists.txt:1: kv70_serial2 links kv70_device: serial may not link device"),
            ("serial/CMakeLists.txt", "add_library(x STATIC a.cpp)\n# one\ntarget_link_libraries(x PUBLIC kv70_device)\n",
             "serial/CMakeLists.txt:3: x links kv70_device: serial may not link device"),
            ("serial/CMakeLists.txt", "set(_libs framework)\nlist(APPEND _libs kv70_device)\n"
                                      "add_library(x a.cpp)\ntarget_link_libraries(x PRIVATE ${_libs})\n",
             "serial/CMakeLists.txt:4: x links kv70_device: serial may not link device"),
            ("framework/CMakeLists.txt", 'add_library(f SHARED)\n'
                                         'target_link_libraries(f PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,kv70_serial>")\n',
             "framework/CMakeLists.txt:2: f links kv70_serial: framework may not link serial"),
            ("sim/CMakeLists.txt", "target_link_libraries(kv70sim_lib PUBLIC kv70_serial)\n",
             "sim/CMakeLists.txt:1: kv70sim_lib links kv70_serial: sim may not link serial"),
            ("host/CMakeLists.txt", "target_link_libraries(velmora_core PUBLIC kv70_device)\n",
             "host/CMakeLists.txt:1: velmora_core links kv70_device: host may not link device"),
            ("tests/CMakeLists.txt", "add_executable(t t.cpp)\ntarget_link_libraries(t PRIVATE velmora_core)\n",
             "tests/CMakeLists.txt:2: t links velmora_core: tests may not link host"),
            ("device/CMakeLists.txt", "target_link_libraries(kv70_device PUBLIC kv70_scripted_line)\n",
             "device/CMakeLists.txt:1: kv70_device links kv70_scripted_line: device may not link the test helper kv70_scripted_line"),
            ("serial/CMakeLists.txt", "kv70_add_test(serial_tests SOURCES tests/t.cpp LIBS kv70_device)\n",
             "serial/CMakeLists.txt:1: serial_tests links kv70_device: serial may not link device"),
        ]
        for path, text, expected in rows:
            with self.subTest(expected=expected):
                files = dict(tree)
                files[path] = text + files.get(path, "")
                code, out = self.run_on(files)
                self.assertEqual(code, 1, out)
                self.assertIn(expected, out)


if __name__ == "__main__":
    unittest.main()
