#!/usr/bin/env python3
"""velmora as a person or a script uses it.

Interactive cases run velmora in a pseudo-terminal and type into it; unattended cases
give it no terminal. Each case has a registry and data directory of its own.

Cases named test_kv70_* drive the KV70 plug-in (DevKV70.so beside velmora) against the
built-in simulator in virtual time; the others use FakeDevice.so, the tests' own plug-in,
to check that velmora drives any plug-in from its exports and pages alone.
"""
import argparse
import csv
import hashlib
import io
import json
import grp
import os
import pty
import pwd
import re
import resource
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
# A guard against a hung velmora, not a measure of anything.
HANG_GUARD_S = 120


def decode_status(status):
    if os.WIFEXITED(status):
        return os.WEXITSTATUS(status)
    return -os.WTERMSIG(status)


class Terminal:
    """velmora in a pseudo-terminal: wait for text, type lines, press Ctrl-C."""

    def __init__(self, argv, env):
        pid, fd = pty.fork()
        if pid == 0:
            try:
                os.execve(argv[0], argv, env)
            finally:
                os._exit(127)
        self.pid = pid
        self.fd = fd
        self.text = ""
        self.pos = 0
        self.status = None

    def _read(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return None
        ready, _, _ = select.select([self.fd], [], [], remaining)
        if not ready:
            return None
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            data = b""
        return data

    def expect(self, wanted):
        """Waits until `wanted` (text or compiled pattern) appears after what was seen."""
        deadline = time.monotonic() + HANG_GUARD_S
        while True:
            if isinstance(wanted, str):
                index = self.text.find(wanted, self.pos)
                if index >= 0:
                    self.pos = index + len(wanted)
                    return wanted
            else:
                match = wanted.search(self.text, self.pos)
                if match:
                    self.pos = match.end()
                    return match
            data = self._read(deadline)
            if data is None:
                raise AssertionError("velmora never showed %r; it showed:\n%s" % (wanted, self.text))
            if not data:
                raise AssertionError("velmora ended before showing %r; it showed:\n%s" % (wanted, self.text))
            self.text += data.decode("utf-8", "replace").replace("\r", "")

    def type(self, line):
        os.write(self.fd, (line + "\n").encode())

    def ctrl_c(self):
        os.write(self.fd, b"\x03")

    def finish(self):
        """Reads to the end and returns the exit status."""
        deadline = time.monotonic() + HANG_GUARD_S
        while True:
            data = self._read(deadline)
            if data is None:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                raise AssertionError("velmora did not end; it showed:\n" + self.text)
            if not data:
                break
            self.text += data.decode("utf-8", "replace").replace("\r", "")
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        self.status = decode_status(status)
        return self.status


class VelmoraTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmora-e2e-")
        self.env = dict(os.environ)
        self.env["HOME"] = self.dir
        self.env["VELMORA_REGISTRY"] = os.path.join(self.dir, "registry.db")
        self.env.pop("VELMORA_DATA", None)
        self.env.pop("VELMORA_KV70_MONITOR", None)
        for n in range(1, 7):
            self.env.pop("VELMORA_COM%d" % n, None)
        self.env["TERM"] = "dumb"
        self.data = self.dir  # velmora keeps its files beside the registry
        self.terminal = None

    def tearDown(self):
        if self.terminal and self.terminal.status is None:
            try:
                os.kill(self.terminal.pid, signal.SIGKILL)
                os.waitpid(self.terminal.pid, 0)
            except OSError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    # --- helpers -------------------------------------------------------------------

    def velmora(self, *args, plugin=None):
        argv = [ARGS.velmora] + list(args)
        if plugin:
            argv += ["--plugin", plugin]
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                env=self.env, timeout=HANG_GUARD_S)
        return result.returncode, result.stdout, result.stderr

    def fake(self, *args):
        return self.velmora(*args, plugin=ARGS.fake)

    def interactive(self, *args, plugin=None):
        argv = [ARGS.velmora] + list(args)
        if plugin:
            argv += ["--plugin", plugin]
        self.terminal = Terminal(argv, self.env)
        return self.terminal

    def path(self, name):
        return os.path.join(self.dir, name)

    def register_firmware(self, description, source, device_type="KV70"):
        """Puts a firmware entry into the catalogue with a .reg file, as the demo does."""
        firmware_dir = os.path.join(self.data, "Firmware")
        os.makedirs(firmware_dir, exist_ok=True)
        target = os.path.join(firmware_dir, os.path.basename(source))
        shutil.copyfile(source, target)
        return self.import_entry(description, target, device_type)

    def import_entry(self, description, target, device_type="KV70"):
        """An entry naming `target` where it lies, imported from a .reg file."""
        reg = self.path("firmware.reg")
        with open(reg, "w") as out:
            out.write("REGEDIT4\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n"
                      "\"InstallDirectory\"=\"%s\"\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\%s]\n"
                      "\"Description\"=\"%s\"\n\"DeviceType\"=\"%s\"\n\"FirmwarePath\"=\"%s\"\n"
                      "\"OriginalInstall\"=dword:00000000\n"
                      % (self.data, description, description, device_type, target))
        code, out, err = self.velmora("registry", "import", reg)
        self.assertEqual(code, 0, out + err)
        return target

    def sample(self):
        return os.path.join(ARGS.samples, "velmora-sample.x")

    # --- the command line ----------------------------------------------------------

    def test_list_shows_every_operation(self):
        code, out, err = self.fake("list")
        self.assertEqual(code, 0, err)
        self.assertIn("0  Package install   Installs a package into the fake device.", out)
        self.assertIn("4  Question time", out)

    def test_usage_errors_end_with_64_and_say_why(self):
        cases = [
            (["run", "install", "--port", "7"], "--port"),
            (["run", "install", "--port", "0"], "--port"),
            (["run", "flash"], "no operation called \"flash\""),
            (["run", "9"], "no operation 9"),
            (["run", "readout", "--device", "/dev/no-such-tty"], "no such device"),
            (["run", "readout", "--device", "sim:no-such-setting=1"], "no-such-setting"),
            (["run", "readout", "--bogus"], "--bogus"),
            (["run", "readout", "--registry", "/no/such/dir/registry.db"], "/no/such/dir"),
            (["run", "readout", "--trace", "/no/such/dir/trace.txt"], "trace"),
            (["run", "readout", "--monitor-image", ""], "--monitor-image"),
            (["run", "readout", "--log-file", "x.log"], "--log-file"),
            (["run", "install", "--firmware", "Gamma 3.0"], "\"Gamma 3.0\" is not in the list"),
            (["run", "save"], "No file was given."),
            ([], "subcommand"),
        ]
        for args, why in cases:
            code, out, err = self.fake(*args)
            self.assertEqual(code, 64, "%s: %s%s" % (args, out, err))
            self.assertIn(why, out + err, args)
        code, out, err = self.velmora("run", "config", "--plugin", "/no/such/plugin.so")
        self.assertEqual(code, 64)
        self.assertIn("/no/such/plugin.so", err)
        code, out, err = self.velmora("registry", "import", self.path("missing.reg"))
        self.assertEqual(code, 64)

    def test_help_on_every_command(self):
        for args in (["--help"], ["list", "--help"], ["run", "--help"], ["registry", "--help"],
                     ["registry", "import", "--help"], ["registry", "export", "--help"],
                     ["firmware", "--help"], ["firmware", "add", "--help"],
                     ["firmware", "list", "--help"], ["firmware", "remove", "--help"]):
            code, out, err = self.velmora(*args)
            self.assertEqual(code, 0, args)
            self.assertIn("Usage", out, args)
        code, out, _ = self.velmora("run", "--help")
        for option in ("--port", "--device", "--plugin", "--registry", "--yes", "--trace",
                       "--firmware", "--log-file", "--monitor-image", "Exit status"):
            self.assertIn(option, out)
        # What a technician needs for a real KV70, in the order of doing it.
        steps = ["Running on a real KV70:", "1. Cable and port", "2. --device", "3. The monitor program",
                 "--monitor-image PATH", "4. The firmware file", "register it once with \"velmora firmware add FILE\"",
                 "5. On the display", "restart the KV70", "6. Failure 806"]
        positions = [out.find(step) for step in steps]
        self.assertNotIn(-1, positions, out)
        # velmora ports, where a technician looks for the port, says the same.
        code, ports, _ = self.velmora("ports")
        self.assertEqual(code, 0)
        self.assertIn("COM1", ports)
        self.assertEqual([ports.find(step) >= 0 for step in steps], [True] * len(steps), ports)
        self.assertEqual(positions, sorted(positions), out)

    def test_first_run_writes_install_directory_and_catalogue_key(self):
        code, out, err = self.fake("run", "readout")
        self.assertEqual(code, 0, out + err)
        self.assertIn("First run: Velmora keeps its files in " + self.dir, out)
        self.assertTrue(os.path.isdir(os.path.join(self.dir, "Firmware")))
        exported = self.path("export.reg")
        code, out, err = self.velmora("registry", "export", exported, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell")
        self.assertEqual(code, 0, err)
        with open(exported) as f:
            text = f.read()
        self.assertIn("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]", text)
        self.assertIn("\"InstallDirectory\"=\"%s\"" % self.dir, text)
        self.assertIn("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware]", text)
        # A second run leaves it alone.
        code, out, _ = self.fake("run", "readout")
        self.assertNotIn("First run", out)

    def test_registry_import_and_export(self):
        reg = self.path("in.reg")
        with open(reg, "w") as out:
            out.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Name\"=\"Value\"\n\"Count\"=dword:0000002a\n")
        code, out, err = self.velmora("registry", "import", reg)
        self.assertEqual(code, 0, err)
        exported = self.path("out.reg")
        code, out, err = self.velmora("registry", "export", exported, "HKEY_CURRENT_USER\\Software\\Test")
        self.assertEqual(code, 0, err)
        with open(exported) as f:
            text = f.read()
        self.assertIn("\"Name\"=\"Value\"", text)
        self.assertIn("\"Count\"=dword:0000002a", text)
        code, _, err = self.velmora("registry", "export", exported, "HKEY_CURRENT_USER\\Software\\Nothing")
        self.assertEqual(code, 1)
        self.assertIn("no key", err)
        bad = self.path("bad.reg")
        with open(bad, "w") as out:
            out.write("this is not a registry file\n")
        code, _, err = self.velmora("registry", "import", bad)
        self.assertEqual(code, 1)
        self.assertIn("bad.reg", err)
        code, _, err = self.velmora("registry", "export", self.path("x.reg"), "NOT_A_ROOT\\Key")
        self.assertEqual(code, 64)

    # --- unattended runs -----------------------------------------------------------

    def test_unattended_run_shows_status_progress_and_answers_yes(self):
        code, out, err = self.fake("run", "install", "--firmware", "Alpha 1.0", "--yes", "--port", "3")
        self.assertEqual(code, 0, out + err)
        self.assertIn("-> selects \"Alpha 1.0\"", out)
        self.assertIn("Plug the fake device into COM3 (100% fake).", out)
        self.assertIn("== Fake - Installing ==\nInstalling Alpha 1.0...", out)
        self.assertIn("progress 75%\nprogress 100%\n", out)
        self.assertNotIn("progress 130%", out)
        self.assertIn("-> Yes (--yes)", out)
        self.assertIn("Installed Alpha 1.0.", out)
        self.assertIn("Package install succeeded.", out)

    def test_unattended_question_is_answered_no(self):
        code, out, err = self.fake("run", "install", "--firmware", "Alpha 1.0")
        self.assertEqual(code, 2, out + err)
        self.assertIn("Install it again?\n-> No (nobody to ask; --yes answers Yes)", out)
        self.assertIn("Package install was cancelled.", out)

    def test_unattended_dialog_during_a_run_is_printed_and_closed(self):
        code, out, err = self.fake("run", "readout")
        self.assertEqual(code, 0, out + err)
        self.assertIn("=== Readings ===", out)
        self.assertIn("    Radio   Enabled", out)

    def test_unattended_page_input_fills_the_field(self):
        log = self.path("fake.log")
        code, out, err = self.fake("run", "save", "--log-file", log)
        self.assertEqual(code, 0, out + err)
        with open(log) as f:
            self.assertEqual(f.read(), "fake log\n")

    # --- the wizard in a terminal --------------------------------------------------

    def test_interactive_pick_insert_delete_refuse_back_and_finish(self):
        t = self.interactive("run", "install", plugin=ARGS.fake)
        t.expect("=== Fake - Choose Package === (page 1 of 2)")
        t.expect("   * 2. Beta 2.0")
        t.expect("> ")
        # Pick the first entry.
        t.type("1")
        t.expect("   * 1. Alpha 1.0")
        t.expect("> ")
        # Insert: the dialog, a field typed, a field through Browse, then Add.
        t.type("ins")
        t.expect("=== Add Package ===")
        t.expect("Name: [e1] \"\"")
        t.expect("> ")
        t.type("e1 Gamma 3.0")
        t.expect("Name: [e1] \"Gamma 3.0\"")
        t.expect("> ")
        t.type("add")
        t.expect("Both the name and the file are needed.")
        t.expect("(Enter: OK) > ")
        t.type("")
        t.expect("> ")
        package = self.path("gamma.pkg")
        open(package, "w").close()
        t.type("browse")
        t.expect("--- Open (Package files (*.pkg), All files (*.*)) ---")
        t.expect("(empty line cancels) > ")
        t.type(package)
        t.expect("File: [e2] \"%s\"" % package)
        t.expect("> ")
        t.type("add")
        t.expect("   * 3. Gamma 3.0")
        t.expect("> ")
        # Delete with the question: No keeps the entry, Yes removes it.
        t.type("del")
        t.expect("Remove Gamma 3.0 from the list?")
        t.expect("[y]es  [n]o  (type y or n) > ")
        # Enter never answers Yes: it asks for y or n.
        t.type("")
        t.expect("Enter does not answer Yes here: type y or n.")
        t.expect("> ")
        t.type("n")
        t.expect("   * 3. Gamma 3.0")
        t.expect("> ")
        for _ in range(3):
            t.type("del")
            t.expect("from the list?")
            t.expect("> ")
            t.type("y")
            t.expect("> ")
        self.assertIn("(no items)", t.text[t.text.rfind("=== Fake"):])
        # Next without a selection is refused with the page's message; the page stays.
        t.type("n")
        t.expect("No package was chosen.")
        t.expect("(Enter: OK) > ")
        t.type("")
        t.expect("=== Fake - Choose Package === (page 1 of 2)")
        t.expect("> ")
        t.type("ins")
        t.expect("=== Add Package ===")
        t.expect("> ")
        t.type("e1 Delta 4.0")
        t.expect("> ")
        t.type("e2 " + package)
        t.expect("> ")
        t.type("")  # Enter: the default button, Add
        t.expect("   * 1. Delta 4.0")
        t.expect("> ")
        # Double click goes on like Next; Back returns; Enter goes on again.
        t.type("open 1")
        t.expect("=== Velmora - Summary === (page 2 of 2)")
        t.expect("Install Delta 4.0")
        t.expect("Plug the fake device into COM1 (100% fake).")
        t.expect("> ")
        t.type("b")
        t.expect("=== Fake - Choose Package === (page 1 of 2)")
        t.expect("> ")
        t.type("")
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("f")
        t.expect("Install it again?")
        t.expect("> ")
        t.type("yes")
        t.expect("Installed Delta 4.0.")
        self.assertEqual(t.finish(), 0, t.text)

    def test_interactive_cancel_in_the_wizard(self):
        t = self.interactive("run", "install", plugin=ARGS.fake)
        t.expect("=== Fake - Choose Package ===")
        t.expect("> ")
        t.type("c")
        t.expect("Cancelled before the operation started.")
        self.assertEqual(t.finish(), 2, t.text)

    def test_interactive_log_file_name_typed(self):
        log = self.path("typed.log")
        t = self.interactive("run", "save", plugin=ARGS.fake)
        t.expect("Output file: [e1] \"\"")
        t.expect("> ")
        t.type("e1")
        t.expect("Output file (now \"\"; empty line keeps it) > ")
        t.type(log)
        t.expect("Output file: [e1] \"%s\"" % log)
        t.expect("> ")
        t.type("")
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("")
        t.expect("Log saved.")
        self.assertEqual(t.finish(), 0, t.text)
        with open(log) as f:
            self.assertEqual(f.read(), "fake log\n")

    def test_ctrl_c_during_a_run_cancels_it(self):
        t = self.interactive("run", "wait", plugin=ARGS.fake)
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("")
        t.expect("Waiting for Ctrl-C...")
        t.ctrl_c()
        t.expect("Cancelling...")
        t.expect("The operation was canceled.")
        t.expect("Endless wait was cancelled.")
        self.assertEqual(t.finish(), 2, t.text)

    def test_second_ctrl_c_during_a_question_ends_velmora(self):
        t = self.interactive("run", "question", plugin=ARGS.fake)
        t.expect("> ")
        t.type("")
        t.expect("Shall we go on?")
        t.expect("(type y or n) > ")
        t.ctrl_c()
        t.expect("Press Ctrl-C again to quit at once.")
        t.ctrl_c()
        t.expect("stopped at your request")
        self.assertEqual(t.finish(), 2, t.text)

    def test_ctrl_c_in_the_wizard_cancels(self):
        t = self.interactive("run", "install", plugin=ARGS.fake)
        t.expect("=== Fake - Choose Package ===")
        t.expect("> ")
        t.ctrl_c()
        t.expect("Cancelled before the operation started.")
        self.assertEqual(t.finish(), 2, t.text)

    # --- the KV70 plug-in against the simulator ------------------------------------

    def test_kv70_config_with_trace(self):
        trace = self.path("trace.txt")
        code, out, err = self.velmora("run", "config", "--device", "sim", "--trace", trace)
        self.assertEqual(code, 0, out + err)
        self.assertIn("Establishing communication with the KV70. Please wait...", out)
        self.assertIn("=== Device Configuration ===", out)
        self.assertIn("KV70 S/N: KV70-0012345", out)
        self.assertIn("The configuration information was retrieved successfully.", out)
        with open(trace) as f:
            lines = f.read().splitlines()
        self.assertTrue(lines, "empty trace")
        line_form = re.compile(r"^\d+ (([<>])( [0-9A-F]{2})+|! (break-sent \d+|break-received|speed \d+|"
                               r"monitor-image .+))$")
        for line in lines:
            self.assertRegex(line, line_form)
        writes = [line for line in lines if line.split(" ")[1] == ">"]
        self.assertTrue(writes)
        self.assertEqual(len(writes[0].split(" ")) - 2, 90, writes[0])
        self.assertIn("! speed 38400", "\n".join(lines))
        self.assertEqual(lines[0], "0 ! monitor-image embedded stand-in", "the note comes before the port opens")
        times = [int(line.split(" ")[0]) for line in lines]
        self.assertEqual(times, sorted(times))

    def stand_in(self):
        return os.path.join(ARGS.samples, os.pardir, "monitor", "flashmon.bin")

    def test_kv70_monitor_image_stand_in_given_at_run_time(self):
        image = self.path("monitor.bin")
        shutil.copyfile(self.stand_in(), image)
        embedded_trace = self.path("embedded.txt")
        file_trace = self.path("file.txt")
        code, out, err = self.velmora("run", "config", "--device", "sim", "--trace", embedded_trace)
        self.assertEqual(code, 0, out + err)
        code, out, err = self.velmora("run", "config", "--device", "sim", "--monitor-image", image,
                                      "--trace", file_trace)
        self.assertEqual(code, 0, out + err)
        self.assertIn("The configuration information was retrieved successfully.", out)
        with open(embedded_trace) as f:
            embedded = f.read().splitlines()
        with open(file_trace) as f:
            from_file = f.read().splitlines()
        self.assertEqual(embedded[0], "0 ! monitor-image embedded stand-in")
        self.assertEqual(from_file[0], "0 ! monitor-image file " + image)
        # The same image embedded and given at run time: the same bytes at the same times.
        self.assertEqual(embedded[1:], from_file[1:])

    def test_kv70_monitor_image_unusable_ends_the_run_before_the_port_opens(self):
        short = self.path("short.bin")
        with open(self.stand_in(), "rb") as f:
            image = f.read()
        with open(short, "wb") as f:
            f.write(image[:1000])
        trace = self.path("trace.txt")
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        loop = self.path("loop-a")
        os.symlink(self.path("loop-b"), loop)
        os.symlink(loop, self.path("loop-b"))
        cases = [
            (short, "The flash monitor program file %s is 1000 bytes; it must be exactly 8554." % short),
            (self.path("missing.bin"), "The flash monitor program file %s does not exist." % self.path("missing.bin")),
            (self.dir, "%s is a directory, not the flash monitor program file." % self.dir),
            (fifo, "%s is not a regular file (a FIFO, a device or a socket)" % fifo),
            (loop, "The flash monitor program file %s cannot be reached: its symbolic links lead "
                   "round in a loop." % loop),
        ]
        for path, why in cases:
            code, out, err = self.velmora("run", "config", "--device", "sim", "--monitor-image", path,
                                          "--trace", trace)
            self.assertEqual(code, 1, out + err)
            self.assertIn("Monitor program failure! " + why, out)
            self.assertIn("There was a failure with the operation!", out)
            self.assertIn("Configuration retrieval failed.", out)
            with open(trace) as f:
                self.assertEqual(f.read(), "", "nothing reached the line")

    def test_kv70_upgrade_unattended(self):
        self.register_firmware("Sample application 2.1", self.sample())
        prog = self.path("prog.bin")
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:prog-out=" + prog,
                                      "--firmware", "Sample application 2.1", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertIn("-> selects \"Sample application 2.1\"", out)
        self.assertIn("Updating the software of the KV70...", out)
        self.assertIn("The software upgrade was completed successfully.", out)
        with open(prog, "rb") as f:
            flash = f.read()
        self.assertEqual(flash[0x420:0x424], bytes([0x56, 0x4D, 0x00, 0x21]))
        expected = subprocess.run(["srec_cat", self.sample(), "-offset", "-0x02400000", "-o", "-", "-binary"],
                                  capture_output=True, check=True).stdout
        self.assertEqual(flash[:len(expected)], expected)

    def test_kv70_upgrade_refuses_an_unknown_entry(self):
        self.register_firmware("Sample application 2.1", self.sample())
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", "Nothing 9.9")
        self.assertEqual(code, 64, out + err)
        self.assertIn("\"Nothing 9.9\" is not in the list", err)

    def test_kv70_dump_unattended(self):
        log = self.path("kv70-fs.log")
        fs_out = self.path("fs-out.bin")
        code, out, err = self.velmora("run", "dump", "--device", "sim:fs-out=" + fs_out, "--log-file", log)
        self.assertEqual(code, 0, out + err)
        self.assertIn("Reading file system...", out)
        self.assertIn("The file system dump completed successfully.", out)
        with open(log, "rb") as f:
            dumped = f.read()
        with open(fs_out, "rb") as f:
            device = f.read()
        self.assertEqual(len(dumped), 1024 * 1024)
        self.assertEqual(dumped, device)

    def firmware_dir(self, *names):
        return os.path.join(self.data, "Firmware", *names)

    def test_firmware_add_list_remove(self):
        # A fresh registry: add registers and copies, list shows it, the upgrade offers it.
        code, out, err = self.velmora("firmware", "list")
        self.assertEqual((code, out.strip()), (0, "No firmware is registered (velmora firmware add FILE registers one)."), err)
        code, out, err = self.velmora("firmware", "add", self.sample(), "--description", "Sample application 2.1")
        self.assertEqual(code, 0, out + err)
        copy = self.firmware_dir("velmora-sample.x")
        self.assertIn("Registered \"Sample application 2.1\": " + copy, out)
        with open(copy, "rb") as a, open(self.sample(), "rb") as b:
            self.assertEqual(a.read(), b.read())
        code, out, err = self.velmora("firmware", "list")
        self.assertEqual((code, out), (0, "Sample application 2.1  %s\n" % copy), err)
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", "Sample application 2.1", "--yes")
        self.assertEqual(code, 0, out + err)
        # The description defaults to the file's name without its extension.
        code, out, err = self.velmora("firmware", "add", self.sample())
        self.assertEqual(code, 0, out + err)
        self.assertIn("Registered \"velmora-sample\": " + self.firmware_dir("velmora-sample (2).x"), out)
        # Remove asks first: nobody to ask is No (2), and nothing goes.
        code, out, err = self.velmora("firmware", "remove", "velmora-sample")
        self.assertEqual(code, 2, out + err)
        self.assertIn("-> No (nobody to ask; --yes answers Yes)", out)
        self.assertTrue(os.path.exists(self.firmware_dir("velmora-sample (2).x")))
        code, out, err = self.velmora("firmware", "remove", "VELMORA-sample", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertIn("Removed \"velmora-sample\".", out)
        self.assertFalse(os.path.exists(self.firmware_dir("velmora-sample (2).x")))
        self.assertTrue(os.path.exists(copy))
        code, out, err = self.velmora("firmware", "remove", "velmora-sample", "--yes")
        self.assertEqual(code, 64, out + err)
        self.assertIn("\"velmora-sample\" is not in the list", err)

    def test_firmware_add_refuses_what_the_register_dialog_refuses(self):
        bad = self.path("bad.x")
        with open(bad, "w") as f:
            f.write("not an S-record file\n")
        cases = [
            (["firmware", "add", bad], 1, "The specified firmware file %s is invalid." % bad),
            (["firmware", "add", self.sample(), "--description", "a\\b"], 1,
             "The description may not contain a backslash."),
            (["firmware", "add", self.sample(), "--description", ""], 1,
             "One or more required fields has been left empty."),
            (["firmware", "add", self.path("missing.x")], 64, "File does not exist"),
        ]
        for args, status, text in cases:
            code, out, err = self.velmora(*args)
            self.assertEqual(code, status, (args, out, err))
            self.assertIn(text, out + err, args)
        code, out, err = self.velmora("firmware", "list")
        self.assertIn("No firmware is registered", out)
        self.assertEqual(os.listdir(self.firmware_dir()), [])
        # A registry that is not one is named, and left as it was.
        notreg = self.path("notes.txt")
        with open(notreg, "w") as f:
            f.write("my notes\n")
        for args in (["firmware", "list"], ["firmware", "add", self.sample()], ["firmware", "remove", "x"]):
            code, out, err = self.velmora(*(args + ["--registry", notreg]))
            self.assertEqual(code, 64, args)
            self.assertIn("is not a Velmora registry file", err, args)
        with open(notreg) as f:
            self.assertEqual(f.read(), "my notes\n")

    def test_firmware_add_of_a_name_whose_file_no_entry_uses_asks_to_replace(self):
        os.makedirs(self.firmware_dir(), exist_ok=True)
        stray = self.firmware_dir("velmora-sample.x")
        with open(stray, "w") as f:
            f.write("left over\n")
        code, out, err = self.velmora("firmware", "add", self.sample())
        self.assertEqual(code, 2, out + err)
        self.assertIn("already exists in the firmware directory", out)
        with open(stray) as f:
            self.assertEqual(f.read(), "left over\n")
        code, out, err = self.velmora("firmware", "add", self.sample(), "--yes")
        self.assertEqual(code, 0, out + err)
        with open(stray, "rb") as a, open(self.sample(), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_firmware_remove_leaves_a_file_that_is_not_the_entry_s_own(self):
        mine = self.path("my-build.x")
        shutil.copyfile(self.sample(), mine)
        self.import_entry("My build", mine)
        code, out, err = self.velmora("firmware", "remove", "My build", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertIn("leave the file %s in place" % mine, out)
        self.assertTrue(os.path.exists(mine))
        # An entry whose file is gone is listed as such; the software list drops it, so
        # removing it says so and succeeds.
        self.import_entry("Gone", self.path("gone.x"))
        code, out, err = self.velmora("firmware", "list")
        self.assertIn("Gone  %s  (file missing: the upgrade's list drops the entry)" % self.path("gone.x"), out)
        code, out, err = self.velmora("firmware", "remove", "gone")
        self.assertEqual(code, 0, out + err)
        self.assertIn("Removed \"Gone\": its file %s was missing" % self.path("gone.x"), out)
        code, out, err = self.velmora("firmware", "list")
        self.assertIn("No firmware is registered", out)

    def test_upgrade_with_a_firmware_file_registers_it_once(self):
        app = self.path("app-3.0.x")
        shutil.copyfile(self.sample(), app)
        for attempt in range(2):
            code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", app, "--yes")
            self.assertEqual(code, 0, out + err)
            self.assertEqual("Registering %s as \"app-3.0\"" % app in out, attempt == 0, out)
            self.assertIn("-> selects \"app-3.0\"", out)
            self.assertNotIn("already exists", out)
        code, out, err = self.velmora("firmware", "list")
        self.assertEqual(out, "app-3.0  %s\n" % self.firmware_dir("app-3.0.x"))
        # A changed file of that name is registered anew; the question is the plug-in's.
        with open(app, "a") as f:
            f.write("\n")
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", app)
        self.assertEqual(code, 64, out + err)
        self.assertIn("already exists in the firmware directory", out)
        self.assertIn("--firmware: %s was not registered as \"app-3.0\"" % app, err)
        # A file that is not firmware is refused before anything is run.
        bad = self.path("bad.x")
        with open(bad, "w") as f:
            f.write("text\n")
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", bad, "--yes")
        self.assertEqual(code, 64, out + err)
        self.assertIn("The specified firmware file %s is invalid." % bad, out)
        self.assertNotIn("Erasing", out)
    def test_kv70_dump_on_a_terminal_shows_the_bytes_read_on_its_bar(self):
        log = self.path("kv70-fs.log")
        t = self.interactive("run", "dump", "--device", "sim", "--log-file", log)
        t.expect("Reading file system...")
        # The bar's last state stays: the whole size, as the positions told it.
        t.expect(re.compile(r"\] 100%  \d+:\d\d  1,024 of 1,024 KiB"))
        t.expect("File system dump succeeded.")
        self.assertEqual(t.finish(), 0, t.text)

    def test_kv70_dump_without_log_file_is_refused(self):
        code, out, err = self.velmora("run", "dump", "--device", "sim")
        self.assertEqual(code, 64, out + err)
        self.assertIn("No file was selected.", out)

    def test_kv70_interactive_upgrade_through_the_page(self):
        self.register_firmware("Sample application 2.1", self.sample())
        other = self.path("other-sample.x")
        shutil.copyfile(self.sample(), other)
        t = self.interactive("run", "upgrade", "--device", "sim", "--port", "2")
        t.expect("=== Velmora - KV70 Software Selection === (page 1 of 2)")
        t.expect("   * 1. Sample application 2.1")
        t.expect("> ")
        # Register a second file through Insert and the register dialog, its path
        # through Browse.
        t.type("ins")
        t.expect("=== Register Firmware ===")
        t.expect("> ")
        t.type("e1 Sample copy")
        t.expect("Description: [e1] \"Sample copy\"")
        t.expect("> ")
        t.type("browse")
        t.expect("(empty line cancels) > ")
        t.type(other)
        t.expect("Path: [e2] \"%s\"" % other)
        t.expect("> ")
        t.type("add entry")
        t.expect("   * 2. Sample copy")
        t.expect("> ")
        self.assertTrue(os.path.exists(os.path.join(self.data, "Firmware", "other-sample.x")))
        # Delete asks first; No keeps the entry and its file.
        t.type("del")
        t.expect("This operation will unregister Sample copy with Velmora")
        t.expect("(type y or n) > ")
        t.type("n")
        t.expect("   * 2. Sample copy")
        t.expect("> ")
        self.assertTrue(os.path.exists(os.path.join(self.data, "Firmware", "other-sample.x")))
        # Next, Back, and Next again by double click.
        t.type("")
        t.expect("=== Velmora - Summary === (page 2 of 2)")
        t.expect("Sample copy")
        t.expect("COM2")
        t.expect("> ")
        t.type("b")
        t.expect("=== Velmora - KV70 Software Selection ===")
        t.expect("> ")
        t.type("open 1")
        t.expect("=== Velmora - Summary === (page 2 of 2)")
        t.expect("Sample application 2.1")
        t.expect("> ")
        t.type("f")
        t.expect("Updating the software of the KV70...")
        t.expect("The software upgrade was completed successfully.")
        self.assertEqual(t.finish(), 0, t.text)

    def test_kv70_interactive_delete_and_next_without_selection(self):
        self.register_firmware("Sample application 2.1", self.sample())
        t = self.interactive("run", "upgrade", "--device", "sim")
        t.expect("   * 1. Sample application 2.1")
        t.expect("> ")
        t.type("del")
        t.expect("This operation will unregister Sample application 2.1 with Velmora and delete the file")
        t.expect("(type y or n) > ")
        t.type("y")
        t.expect("(no items)")
        t.expect("> ")
        self.assertFalse(os.path.exists(os.path.join(self.data, "Firmware", "velmora-sample.x")))
        t.type("n")
        t.expect("No software version was selected.")
        t.expect("(Enter: OK) > ")
        t.type("")
        t.expect("=== Velmora - KV70 Software Selection === (page 1 of 2)")
        t.expect("> ")
        t.type("c")
        t.expect("Cancelled before the operation started.")
        self.assertEqual(t.finish(), 2, t.text)

    def test_kv70_interactive_dump_with_typed_name(self):
        log = self.path("typed-fs.log")
        t = self.interactive("run", "dump", "--device", "sim")
        t.expect("=== Velmora - KV70 Log File Selection ===")
        t.expect("> ")
        t.type("n")
        t.expect("No file was selected.")
        t.expect("> ")
        t.type("")
        t.expect("> ")
        t.type("e1 " + log)
        t.expect("> ")
        t.type("")
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("")
        t.expect("The file system dump completed successfully.")
        self.assertEqual(t.finish(), 0, t.text)
        self.assertEqual(os.path.getsize(log), 1024 * 1024)

    def test_kv70_ctrl_c_during_a_run(self):
        # In real time, so that the run is still going when Ctrl-C arrives.
        t = self.interactive("run", "config", "--device", "sim:realtime=1")
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("")
        t.expect("Establishing communication with the KV70. Please wait...")
        t.ctrl_c()
        t.expect("The operation was canceled.")
        self.assertEqual(t.finish(), 2, t.text)

    # --- what is refused: nothing lost, nothing claimed ---------------------------

    def read_bytes(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_outputs_over_the_registry_database_are_refused(self):
        self.register_firmware("Sample application 2.1", self.sample())
        store = self.env["VELMORA_REGISTRY"]
        before = self.read_bytes(store)
        alias = self.path("alias.db")
        os.symlink(store, alias)
        for target in (store, alias):
            code, out, err = self.velmora("registry", "export", target)
            self.assertEqual(code, 64, out + err)
            self.assertIn("that is the registry database", err)
            self.assertNotIn("Exported", out)
            code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", target)
            self.assertEqual(code, 64, out + err)
            self.assertIn("--log-file %s: that is the registry database" % target, err)
            self.assertNotIn("Establishing communication", out)
        self.assertEqual(self.read_bytes(store), before)
        # The registry still works: the catalogue is there.
        code, out, err = self.velmora("registry", "export", self.path("ok.reg"))
        self.assertEqual(code, 0, err)
        with open(self.path("ok.reg")) as f:
            self.assertIn("Sample application 2.1", f.read())

    def test_a_file_that_is_not_a_registry_is_named_by_every_command(self):
        store = self.env["VELMORA_REGISTRY"]
        # What an export over the database used to leave behind, and another program's file.
        for content in (b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n", b"SQLite format 3\x00" + b"\x01" * 84):
            with open(store, "wb") as f:
                f.write(content)
            reg = self.path("in.reg")
            with open(reg, "w") as f:
                f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Name\"=\"Value\"\n")
            for args in (["run", "upgrade", "--device", "sim", "--firmware", "Sample application 2.1"],
                         ["run", "dump", "--device", "sim", "--log-file", self.path("fs.log")],
                         ["registry", "import", reg],
                         ["registry", "export", self.path("out.reg")]):
                code, out, err = self.velmora(*args)
                self.assertEqual(code, 64, "%s: %s%s" % (args, out, err))
                self.assertIn("%s is not a Velmora registry file" % store, err, args)
                self.assertNotIn("is not in the list", err, args)
                self.assertNotIn("Establishing communication", out, args)
            self.assertEqual(self.read_bytes(store), content)
            self.assertFalse(os.path.exists(self.path("out.reg")))

    def test_outputs_that_are_no_file_are_refused_without_waiting(self):
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        folder = self.path("folder")
        os.mkdir(folder)
        for target, kind in ((fifo, "is a FIFO (named pipe), not a file"), (folder, "is a directory, not a file")):
            code, out, err = self.velmora("registry", "export", target)
            self.assertEqual(code, 64, out + err)
            self.assertIn(kind, err)
            self.assertNotIn("Exported", out)
            code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", target)
            self.assertEqual(code, 64, out + err)
            self.assertIn("--log-file %s: %s" % (target, kind), err)
            code, out, err = self.velmora("run", "config", "--device", "sim", "--trace", target)
            self.assertEqual(code, 64, out + err)
        self.assertTrue(os.path.exists(fifo) and not os.path.isfile(fifo))
        self.assertTrue(os.path.isdir(folder))
        # Nothing was left beside them.
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if not n.startswith("registry.db")),
                         ["folder", "pipe"])

    def test_kv70_dump_with_the_cable_pulled_for_good_gives_up(self):
        log = self.path("fs.log")
        for args, seconds in (([], 300), (["--give-up-after", "60"], 60)):
            if os.path.exists(log):
                os.remove(log)
            code, out, err = self.velmora("run", "dump", "--device", "sim:pull=300-999999999", "--log-file", log, *args)
            self.assertEqual(code, 1, out + err)
            self.assertIn("velmora: no progress for %d s: gave up (cancelling the run)" % seconds, out)
            self.assertIn("File system dump failed: no progress for %d s: gave up." % seconds, out)
            waiting = "Timeout getting response from KV!  Check the cables!  Waiting for reconnect..."
            self.assertEqual(out.count(waiting + "\n"), 1, out)
            self.assertRegex(out, re.escape(waiting) + r" \(again, \d+ times\)\n")
            self.assertLess(len(out.splitlines()), 100, out)

    def test_give_up_after_is_documented_and_checked(self):
        code, out, err = self.velmora("run", "--help")
        self.assertIn("--give-up-after", out)
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", self.path("fs.log"),
                                      "--give-up-after", "-5")
        self.assertEqual(code, 64, out + err)
        # A healthy dump reports its progress every nine seconds of the line and its end
        # shows none for six: a shorter limit would cancel it. 30 s and more are taken.
        for command in (["run", "dump", "--device", "sim", "--log-file", self.path("fs.log")],
                        ["station", "dump", "--slot", "sim", "--log-dir", self.dir]):
            for seconds in ("5", "29", "abc"):
                code, out, err = self.velmora(*command, "--give-up-after", seconds)
                self.assertEqual(code, 64, out + err)
                self.assertIn("--give-up-after: takes", err)
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", self.path("fs.log"),
                                      "--give-up-after", "30", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertNotIn("gave up", out)

    def test_kv70_scripted_upgrade_without_firmware_is_a_usage_error(self):
        self.register_firmware("Sample application 2.1", self.sample())
        prog = self.path("prog.bin")
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:prog-out=" + prog, "--yes")
        self.assertEqual(code, 64, out + err)
        self.assertIn("--firmware is needed", err)
        self.assertNotIn("Establishing communication", out)
        self.assertFalse(os.path.exists(prog), "the device was never made")

    def test_kv70_upgrade_stopped_after_erasing_says_the_flash_is_incomplete(self):
        self.register_firmware("Sample application 2.1", self.sample())
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:program-refuse=all",
                                      "--firmware", "Sample application 2.1", "--yes")
        self.assertEqual(code, 1, out + err)
        self.assertIn("Erasing program flash...", out)
        self.assertIn("may now hold an incomplete application. Run the upgrade again", out)
        # A failure before erasing leaves the application alone and says nothing of it.
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:pull=1-999999999",
                                      "--firmware", "Sample application 2.1", "--yes")
        self.assertNotEqual(code, 0, out + err)
        self.assertNotIn("Erasing program flash", out)
        self.assertNotIn("incomplete application", out)

    def test_kv70_simulator_settings_that_cannot_be_used_are_usage_errors(self):
        cases = [
            ("sim:prog-out=" + self.path("no-such-folder/p.bin"), "there is no directory"),
            ("sim:fs-out=" + self.path("no-such-folder/f.bin"), "there is no directory"),
            ("sim:fs-image=" + self.path("missing.bin"), "fs-image=%s: no such file" % self.path("missing.bin")),
        ]
        for device, why in cases:
            code, out, err = self.velmora("run", "dump", "--device", device, "--log-file", self.path("fs.log"))
            self.assertEqual(code, 64, device + out + err)
            self.assertIn(why, err)
            self.assertNotIn("Establishing communication", out)
            self.assertNotIn("301", out + err)

    def test_registry_import_reads_windows_registry_editor_files(self):
        text = ("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Win]\r\n\"Owner\"=\"M\u00fcller\"\r\n\"Count\"=dword:0000002a\r\n")
        for name, data in (("utf16.reg", b"\xff\xfe" + text.encode("utf-16-le")),
                           ("utf8.reg", text.encode("utf-8")),
                           ("regedit4-utf16.reg", b"\xff\xfe" + text.replace(
                               "Windows Registry Editor Version 5.00", "REGEDIT4").encode("utf-16-le"))):
            reg = self.path(name)
            with open(reg, "wb") as f:
                f.write(data)
            code, out, err = self.velmora("registry", "import", reg)
            self.assertEqual(code, 0, name + out + err)
            exported = self.path("out.reg")
            code, out, err = self.velmora("registry", "export", exported, "HKEY_CURRENT_USER\\Software\\Win")
            self.assertEqual(code, 0, err)
            with open(exported, "rb") as f:
                back = f.read()
            self.assertTrue(back.startswith(b"REGEDIT4\r\n"), back)
            self.assertIn("\"Owner\"=\"M\u00fcller\"".encode("utf-8"), back)
            self.assertIn(b"\"Count\"=dword:0000002a", back)
        code, out, err = self.velmora("registry", "export", "--unicode", self.path("win.reg"),
                                      "HKEY_CURRENT_USER\\Software\\Win")
        self.assertEqual(code, 0, err)
        with open(self.path("win.reg"), "rb") as f:
            back = f.read()
        self.assertTrue(back.startswith(b"\xff\xfe" + "Windows Registry Editor Version 5.00\r\n".encode("utf-16-le")))
        self.assertIn("\"Owner\"=\"M\u00fcller\"".encode("utf-16-le"), back)


    # --- outputs on a device that takes nothing -----------------------------------

    def char_device(self, name, major, minor):
        """A character device node in the test's own directory (1,7: full; 1,3: null)."""
        path = self.path(name)
        try:
            os.mknod(path, 0o600 | stat.S_IFCHR, os.makedev(major, minor))
        except OSError as e:
            self.skipTest("mknod %s c %d %d refused (%s): no device to write to" % (name, major, minor, e))
        return path

    def assert_still_a_device(self, path):
        self.assertTrue(stat.S_ISCHR(os.lstat(path).st_mode), "%s is no longer a character device" % path)

    def test_registry_export_to_a_full_device_fails_and_keeps_the_node(self):
        full = self.char_device("full", 1, 7)
        code, out, err = self.velmora("registry", "export", full)
        self.assertEqual(code, 1, out + err)
        self.assertIn("cannot export to %s: error 112 (disk full)" % full, err)
        self.assertNotIn("Exported", out)
        self.assert_still_a_device(full)
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if not n.startswith("registry.db")),
                         ["full"], "nothing was left beside it")

    def test_kv70_dump_to_a_full_device_fails_with_the_failure_box(self):
        full = self.char_device("full", 1, 7)
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", full, "--yes")
        self.assertEqual(code, 1, out + err)
        self.assertIn("Disk full while accessing %s." % full, out)
        self.assertIn("There was a failure with the operation!", out)
        self.assertIn("File system dump failed.", out)
        self.assert_still_a_device(full)

    def test_kv70_trace_that_cannot_be_written_is_a_failure(self):
        full = self.char_device("full", 1, 7)
        code, out, err = self.velmora("run", "config", "--device", "sim", "--trace", full)
        self.assertEqual(code, 1, out + err)
        self.assertNotIn("Wire trace:", out)
        # The file, the error, and that the device side went well.
        self.assertIn("velmora: the wire trace %s could not be written: error 112 (disk full)" % full, err)
        self.assertIn("The run itself: Configuration retrieval succeeded.", err)
        self.assertIn("The configuration information was retrieved successfully.", out)
        self.assert_still_a_device(full)
        # A device that takes the bytes is written in place, and the run succeeds.
        null = self.char_device("null", 1, 3)
        code, out, err = self.velmora("run", "config", "--device", "sim", "--trace", null)
        self.assertEqual(code, 0, out + err)
        self.assertIn("Wire trace: " + null, out)
        self.assert_still_a_device(null)

    # --- the catalogue through the page -------------------------------------------

    def srec_flash(self, source):
        """srec_cat's reading of the file as program flash bytes from its start."""
        return subprocess.run(["srec_cat", source, "-offset", "-0x02400000", "-o", "-", "-binary"],
                              capture_output=True, check=True).stdout

    def exported_entries(self):
        """Catalogue entries as {description: FirmwarePath}, read back from an export."""
        exported = self.path("catalogue.reg")
        code, out, err = self.velmora("registry", "export", exported,
                                      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware")
        self.assertEqual(code, 0, out + err)
        with open(exported) as f:
            text = f.read()
        entries = {}
        for key, path in re.findall(r"\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\([^\]]+)\]\n"
                                    r"(?:\"[^\n]*\n)*?\"FirmwarePath\"=\"([^\n]*)\"", text):
            entries[key] = path.replace("\\\\", "/").replace("\\", "/")
        return entries

    def register_through_the_page(self, t, description, source):
        t.type("ins")
        t.expect("=== Register Firmware ===")
        t.expect("> ")
        t.type("e1 " + description)
        t.expect("Description: [e1] \"%s\"" % description)
        t.expect("> ")
        t.type("e2 " + source)
        t.expect("Path: [e2] \"%s\"" % source)
        t.expect("> ")
        t.type("add entry")
        # Yes wherever a replacement is asked: the copy must still be the entry's own.
        listed = re.compile(r"(\[y\]es  \[n\]o  \([^)\n]*\) > )|(\* \d+\. %s\n)" % re.escape(description))
        if t.expect(listed).group(1):
            t.type("y")
            t.expect(listed)
        t.expect("> ")

    def test_kv70_two_files_of_one_name_register_as_two_copies_each_programming_its_own(self):
        sources = {"FWX1": self.path("a/fw.x"), "FWX2": self.path("b/fw.x")}
        os.makedirs(self.path("a"))
        os.makedirs(self.path("b"))
        shutil.copyfile(self.sample(), sources["FWX1"])
        # The second file: the sample with one data record's bytes changed, still valid.
        with open(self.sample()) as f:
            lines = f.read().split("\n")
        record = lines[399].rstrip("\r")
        fields = bytes.fromhex(record[2:-2])
        fields = fields[:5] + bytes(b ^ 0x5A for b in fields[5:])
        lines[399] = "S3" + fields.hex().upper() + "%02X" % (~sum(fields) & 0xFF) + "\r"
        with open(sources["FWX2"], "w", newline="") as f:
            f.write("\n".join(lines))
        expected = {name: self.srec_flash(path) for name, path in sources.items()}
        self.assertNotEqual(expected["FWX1"], expected["FWX2"])

        t = self.interactive("run", "upgrade", "--device", "sim")
        t.expect("=== Velmora - KV70 Software Selection ===")
        t.expect("> ")
        self.register_through_the_page(t, "FWX1", sources["FWX1"])
        self.register_through_the_page(t, "FWX2", sources["FWX2"])
        t.type("c")
        t.expect("Cancelled before the operation started.")
        self.assertEqual(t.finish(), 2, t.text)

        entries = self.exported_entries()
        self.assertEqual(sorted(entries), ["FWX1", "FWX2"], entries)
        self.assertNotEqual(entries["FWX1"], entries["FWX2"], "two entries share one copy")
        for name, source in sources.items():
            self.assertEqual(self.read_bytes(entries[name]), self.read_bytes(source), name)
            prog = self.path("prog-%s.bin" % name)
            code, out, err = self.velmora("run", "upgrade", "--device", "sim:prog-out=" + prog,
                                          "--firmware", name, "--yes")
            self.assertEqual(code, 0, out + err)
            self.assertIn("The software upgrade was completed successfully.", out)
            flash = self.read_bytes(prog)
            self.assertEqual(flash[:len(expected[name])], expected[name], "%s programs its own file" % name)

    def test_kv70_a_file_no_entry_names_is_replaced_only_after_the_question(self):
        firmware_dir = os.path.join(self.data, "Firmware")
        os.makedirs(firmware_dir)
        stray = os.path.join(firmware_dir, "fw.x")
        with open(stray, "w") as f:
            f.write("left here by hand\n")
        os.makedirs(self.path("a"))
        source = self.path("a/fw.x")
        shutil.copyfile(self.sample(), source)
        t = self.interactive("run", "upgrade", "--device", "sim")
        t.expect("> ")
        for answer in ("n", "y"):
            t.type("ins")
            t.expect("=== Register Firmware ===")
            t.expect("> ")
            t.type("e1 Incoming")
            t.expect("> ")
            t.type("e2 " + source)
            t.expect("> ")
            t.type("add entry")
            t.expect("The file %s/Firmware/fw.x already exists in the firmware directory, and no other "
                     "registered software version uses it.\n\nPress yes to replace it with %s." % (self.data, source))
            t.expect("[y]es  [n]o  (Enter: No) > ")
            t.type(answer)
            if answer == "n":
                t.expect("(no items)")
                self.assertEqual(self.read_bytes(stray), b"left here by hand\n", "No changes nothing")
            t.expect("> ")
        self.assertIn("   * 1. Incoming", t.text[t.text.rfind("=== Velmora"):])
        t.type("c")
        self.assertEqual(t.finish(), 2, t.text)
        self.assertEqual(self.read_bytes(stray), self.read_bytes(source))

    def test_kv70_delete_of_an_entry_naming_a_file_elsewhere_keeps_the_file(self):
        os.makedirs(self.path("mine"))
        mine = self.path("mine/application.x")
        shutil.copyfile(self.sample(), mine)
        self.import_entry("My build", mine)
        before = self.read_bytes(mine)
        t = self.interactive("run", "upgrade", "--device", "sim")
        t.expect("   * 1. My build")
        t.expect("> ")
        t.type("del")
        t.expect("This operation will unregister My build with Velmora and leave the file %s in place" % mine)
        t.expect("(type y or n) > ")
        t.type("y")
        t.expect("(no items)")
        t.expect("> ")
        t.type("c")
        t.expect("Cancelled before the operation started.")
        self.assertEqual(t.finish(), 2, t.text)
        self.assertEqual(self.exported_entries(), {})
        self.assertEqual(self.read_bytes(mine), before, "the user's own file is left alone")

    def test_kv70_a_file_with_neither_end_nor_count_record_programs_and_says_so(self):
        # srec_cat's default output cut after its data, as a copy broken off would be.
        data = self.path("data.bin")
        with open(data, "wb") as f:
            f.write(bytes((i * 7 + 3) & 0xFF for i in range(4096)))
        made = self.path("made.x")
        subprocess.run(["srec_cat", data, "-binary", "-offset", "0x02400000", "-o", made],
                       check=True, capture_output=True)
        with open(made) as f:
            lines = f.read().splitlines()
        self.assertTrue(lines[-1].startswith("S5"))
        cut = self.path("cut.x")
        with open(cut, "w") as f:
            f.write("\n".join(lines[:-1]) + "\n")
        target = self.register_firmware("Cut", cut)
        prog = self.path("prog.bin")
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:prog-out=" + prog,
                                      "--firmware", "Cut", "--yes")
        self.assertEqual(code, 0, out + err)
        note = ("The firmware file %s has neither an end record (S7, S8 or S9) nor a count record "
                "(S5 or S6): its completeness could not be checked." % target)
        self.assertIn(note + "\n", out)
        # Said again after the run, where it cannot scroll away.
        self.assertTrue(out.rstrip("\n").endswith("Software upgrade succeeded.\nNote: " + note), out)
        with open(prog, "rb") as f:
            self.assertEqual(f.read()[:4096], open(data, "rb").read())
        # A script reading the events gets it as a warning.
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", "Cut", "--yes",
                                      "--json")
        self.assertEqual(code, 0, out + err)
        events = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
        self.assertIn(("warning", note), [(e.get("event"), e.get("text")) for e in events], out)
        # srec_cat's own file, with its count, says nothing of the kind.
        self.register_firmware("Made", made)
        code, out, err = self.velmora("run", "upgrade", "--device", "sim", "--firmware", "Made", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertNotIn("completeness", out)

    def test_kv70_the_entry_a_run_holds_is_neither_deleted_nor_replaced(self):
        self.register_firmware("Sample application 2.1", self.sample())
        copy = os.path.join(self.data, "Firmware", "velmora-sample.x")
        before = self.read_bytes(copy)
        # A different file of the same name, to register under the same description.
        os.makedirs(self.path("b"))
        other = self.path("b/velmora-sample.x")
        with open(self.sample()) as f:
            lines = f.read().split("\n")
        with open(other, "w", newline="") as f:
            f.write("\n".join(lines[:200] + lines[260:]))
        # The simulated device runs the sample's version already: the run asks before it
        # erases, and waits there with its file checked and held.
        installed = "sim:options=" + "00" * 39 + "21"
        in_use = ("Sample application 2.1 is in use: a software upgrade that is running now is "
                  "loading it, or another program holds its file %s open." % copy)

        def start_run(prog):
            run = Terminal([ARGS.velmora, "run", "upgrade", "--device", installed + ",prog-out=" + prog],
                           self.env)
            run.expect("   * 1. Sample application 2.1")
            run.expect("> ")
            run.type("")
            run.expect("=== Velmora - Summary ===")
            run.expect("> ")
            run.type("f")
            run.expect("Software version already installed!")
            run.expect("> ")
            return run

        def refused(page, command, *typed):
            page.type(command)
            for line in typed:
                page.expect("> ")
                page.type(line)
            page.expect(in_use)
            page.expect("(Enter: OK) > ")
            page.type("")
            page.expect("   * 1. Sample application 2.1")
            page.expect("> ")

        first = start_run(self.path("prog1.bin"))
        page = Terminal([ARGS.velmora, "run", "upgrade", "--device", "sim"], self.env)
        try:
            page.expect("   * 1. Sample application 2.1")
            page.expect("> ")
            refused(page, "del")
            page.type("ins")
            page.expect("=== Register Firmware ===")
            refused(page, "e1 Sample application 2.1", "e2 " + other, "add entry")
            self.assertEqual(self.read_bytes(copy), before)
            # The run goes on with the file it checked.
            first.type("y")
            first.expect("The software upgrade was completed successfully.")
            self.assertEqual(first.finish(), 0, first.text)
            self.assertEqual(self.read_bytes(self.path("prog1.bin"))[:0x420 + 4][-4:],
                             bytes([0x56, 0x4D, 0x00, 0x21]))

            # A run killed while it holds the entry leaves nothing locked behind.
            second = start_run(self.path("prog2.bin"))
            refused(page, "del")
            os.kill(second.pid, signal.SIGKILL)
            second.finish()
            page.type("del")
            page.expect("This operation will unregister Sample application 2.1 with Velmora and delete the file")
            page.expect("(type y or n) > ")
            page.type("y")
            page.expect("(no items)")
            page.expect("> ")
            page.type("c")
            self.assertEqual(page.finish(), 2, page.text)
        finally:
            for t in (first, page):
                if t.status is None:
                    try:
                        os.kill(t.pid, signal.SIGKILL)
                        os.waitpid(t.pid, 0)
                    except OSError:
                        pass
        self.assertFalse(os.path.exists(copy))

    # --- ports that cannot be had: velmora says why ----------------------------------

    def pty_port(self):
        """A pseudo-terminal whose slave is the port; this process holds the master (as a
        device's simulator would), so it counts as the port's server, not its user."""
        master, slave = os.openpty()
        path = os.ttyname(slave)
        os.close(slave)
        self.addCleanup(os.close, master)
        return master, path

    def run_on(self, device, *extra):
        return self.velmora("run", "config", "--device", device, "--give-up-after", "30", *extra)

    def test_kv70_port_of_another_group_names_the_group_and_the_fix(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to make a port node of group dialout and run as another user")
        try:
            dialout = grp.getgrnam("dialout").gr_gid
            nobody = pwd.getpwnam("nobody")
        except KeyError:
            self.skipTest("this system has no dialout group or no user nobody")
        setpriv = shutil.which("setpriv")
        if not setpriv:
            self.skipTest("setpriv (util-linux) is not installed")
        _, slave = self.pty_port()
        # The port as a USB adapter's node is: root's, group dialout, 0660.
        st = os.stat(slave)
        node = self.path("ttyUSB0")
        os.mknod(node, 0o660 | stat.S_IFCHR, st.st_rdev)
        os.chown(node, 0, dialout)
        os.chmod(node, 0o660)
        os.chmod(self.dir, 0o755)
        home = self.path("nobody")
        os.mkdir(home)
        os.chown(home, nobody.pw_uid, nobody.pw_gid)
        env = dict(self.env, HOME=home, VELMORA_REGISTRY=os.path.join(home, "registry.db"),
                   VELMORA_LOCK_DIR=home)
        argv = [setpriv, "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
                "--clear-groups", ARGS.velmora, "run", "config", "--device", node]
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                env=env, timeout=HANG_GUARD_S)
        out = result.stdout + result.stderr
        self.assertEqual(result.returncode, 1, out)
        # The plug-in's box keeps its text; velmora adds why.
        self.assertIn("There was a failure [5] attempting to open COM1.", out)
        self.assertIn("COM1: %s: permission denied: the port belongs to group dialout, and user "
                      "nobody is not in it. Add the user with: sudo usermod -aG dialout nobody, "
                      "then log in again.\n" % node, out)

    def test_kv70_port_held_by_another_program_is_refused_naming_it(self):
        master, slave = self.pty_port()
        locks = self.path("locks")
        os.mkdir(locks)
        self.env["VELMORA_LOCK_DIR"] = locks
        # A terminal program left open on the port: it holds the slave, not the master.
        fd = os.open(slave, os.O_RDWR | os.O_NOCTTY)
        holder = subprocess.Popen(["sleep", "600"], pass_fds=[fd])
        os.close(fd)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        code, out, err = self.run_on(slave)
        self.assertEqual(code, 1, out + err)
        self.assertIn("There was a failure [5] attempting to open COM1.", out)
        self.assertIn("COM1: %s is in use by process %d (sleep).\n" % (slave, holder.pid), out)
        # Nothing reached the line.
        readable, _, _ = select.select([master], [], [], 0)
        self.assertEqual(readable, [], "a byte was sent to a port another program holds")
        self.assertEqual(os.listdir(locks), [], "a refused run leaves no lock")

    def test_kv70_second_run_on_one_port_is_told_the_first_holds_it(self):
        _, slave = self.pty_port()
        locks = self.path("locks")
        os.mkdir(locks)
        self.env["VELMORA_LOCK_DIR"] = locks
        first = subprocess.Popen([ARGS.velmora, "run", "config", "--device", slave],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=self.env)
        self.addCleanup(first.wait)
        self.addCleanup(first.kill)
        # The first run has the port once its lock is there (it then waits for the KV70).
        lock = os.path.join(locks, "LCK.." + os.path.realpath(slave)[len("/dev/"):].replace("/", "_"))
        deadline = time.monotonic() + HANG_GUARD_S
        while not os.path.exists(lock):
            self.assertIsNone(first.poll(), "the first run ended before it took the port")
            self.assertLess(time.monotonic(), deadline, "the first run never took the port")
            time.sleep(0.05)
        with open(lock) as f:
            self.assertEqual(f.read(), "%10d\n" % first.pid)
        code, out, err = self.run_on(slave)
        self.assertEqual(code, 1, out + err)
        self.assertIn("COM1: %s is in use by process %d (velmora).\n" % (slave, first.pid), out)
        first.kill()
        first.wait()
        # A lock its process left behind is stale: the next run takes the port over.
        self.assertTrue(os.path.exists(lock))
        code, out, err = self.run_on(slave, "--give-up-after", "1")
        self.assertNotIn("is in use", out + err)

    def test_kv70_what_is_no_port_says_so(self):
        capture = self.path("capture.bin")
        with open(capture, "wb") as f:
            f.write(b"keep me")
        missing = self.path("ttyUSB9")
        cases = [
            (capture, "COM1: %s is not a serial port (a regular file).\n" % capture),
            ("/dev/null", "COM1: /dev/null is not a serial port.\n"),
        ]
        for device, why in cases:
            code, out, err = self.run_on(device)
            self.assertEqual(code, 1, out + err)
            self.assertIn("attempting to open COM1.", out)
            self.assertIn(why, out)
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), b"keep me")
        # A path that is not there: said at once, with the ports that are.
        code, out, err = self.run_on(missing)
        self.assertEqual(code, 64, out + err)
        self.assertRegex(err, r"--device %s: no such device\n(Serial ports:\n  /dev/|No serial ports found\.)"
                         % re.escape(missing))
        # The same port named through VELMORA_COM1 reaches the open, which says the same.
        self.env["VELMORA_COM1"] = missing
        code, out, err = self.velmora("run", "config")
        self.assertEqual(code, 1, out + err)
        self.assertRegex(out, r"COM1: %s does not exist\.\n(Serial ports:\n  /dev/|No serial ports found\.)"
                         % re.escape(missing))

    def test_registry_import_that_fills_the_disk_says_disk_full(self):
        self.import_entry("Before", self.sample())
        reg = self.path("big.reg")
        with open(reg, "w") as out:
            out.write("REGEDIT4\n\n")
            for i in range(2000):
                out.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Key%d]\n\"Value\"=\"%s\"\n\n" % (i, "x" * 200))
        size = os.path.getsize(self.env["VELMORA_REGISTRY"])

        def no_room():
            # The files may grow no further, as on a full disk (mounting one needs more
            # than a test may do).
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (size + 64 * 1024, size + 64 * 1024))

        result = subprocess.run([ARGS.velmora, "registry", "import", reg], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, env=self.env, timeout=HANG_GUARD_S,
                                preexec_fn=no_room)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(result.stderr, "velmora: cannot import %s: error 112 (disk full)\n" % reg)
        # Nothing of it was written, and what was there is still there.
        code, out, err = self.velmora("registry", "export", "-")
        self.assertNotIn("Bulk", out)
        self.assertIn('"Description"="Before"', out)

    def test_registry_on_a_read_only_store_is_read(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run velmora as a user who may not write the store")
        try:
            nobody = pwd.getpwnam("nobody")
        except KeyError:
            self.skipTest("this system has no user nobody")
        self.import_entry("Kept", self.sample())
        os.chmod(self.env["VELMORA_REGISTRY"], 0o444)
        os.chmod(self.dir, 0o555)   # root, who removes it afterwards, is not held back
        argv = ["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid, "--clear-groups",
                ARGS.velmora, "registry", "export", "-"]
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                env=self.env, timeout=HANG_GUARD_S)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn('"Description"="Kept"', result.stdout)
        reg = self.path("firmware.reg")
        result = subprocess.run(argv[:-3] + ["registry", "import", reg], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, env=self.env, timeout=HANG_GUARD_S)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        # The file is only the user's to read: that is what the refusal says.
        self.assertIn("error 5 (access denied)", result.stderr)

    def test_registry_export_to_standard_output(self):
        self.import_entry("Piped", self.sample())
        code, out, err = self.velmora("registry", "export", "-", "HKEY_LOCAL_MACHINE\\SOFTWARE")
        self.assertEqual(code, 0, out + err)
        self.assertTrue(out.startswith("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]"), out)
        self.assertIn('"Description"="Piped"', out)
        self.assertEqual(err, "")
        self.assertFalse(os.path.exists(self.path("-")))

    def test_kv70_progress_on_a_dumb_terminal_has_no_escape_sequences(self):
        t = self.interactive("run", "dump", "--device", "sim", "--log-file", self.path("fs.log"))
        t.finish()
        self.assertNotIn("\x1b", t.text)
        self.assertIn("File system dump succeeded.", t.text)


    # --- outputs on the right file, stop signals, dumps cut short ------------------

    def long_folder(self, length):
        folder = self.path("long")
        while len(folder) < length:
            folder = os.path.join(folder, "d" * 50)
        os.makedirs(folder, exist_ok=True)
        return folder

    def start(self, *args):
        """velmora without a terminal, its output read as it comes."""
        return subprocess.Popen([ARGS.velmora] + list(args), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=self.env)

    def read_until(self, proc, wanted):
        seen = ""
        deadline = time.monotonic() + HANG_GUARD_S
        while wanted not in seen:
            self.assertLess(time.monotonic(), deadline, seen)
            line = proc.stdout.readline()
            if not line:
                self.fail("velmora ended before %r:\n%s" % (wanted, seen))
            seen += line
        return seen

    def finish(self, proc, seen=""):
        try:
            out, err = proc.communicate(timeout=HANG_GUARD_S)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
            self.fail("velmora did not end:\n" + seen + out + err)
        return proc.returncode, seen + out, err

    def partial_text(self, log):
        return "The log file %s holds %d of 1048576 bytes: it is not a complete dump." % (
            log, os.path.getsize(log))

    def test_kv70_a_log_file_path_longer_than_255_characters_is_used_whole(self):
        log = os.path.join(self.long_folder(220), "kv70-filesystem-dump-2026.log")
        self.assertGreater(len(log), 255)
        cut = log[:255]
        with open(cut, "w") as f:
            f.write("somebody's file\n")
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", log, "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(os.path.getsize(log), 1024 * 1024)
        with open(cut) as f:
            self.assertEqual(f.read(), "somebody's file\n", "the shortened name was never the user's")
        # Longer than any path the system opens: refused before the device is touched, never cut.
        too_long = os.path.join(self.dir, "a/" * 2100 + "fs.log")
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", too_long)
        self.assertEqual(code, 64, out + err)
        self.assertNotIn("Establishing communication", out)

    def test_kv70_trace_and_log_file_naming_one_file_are_refused(self):
        target = self.path("out.log")
        with open(target, "w") as f:
            f.write("kept\n")
        alias = self.path("alias.log")
        os.symlink(target, alias)
        fresh = self.path("fresh.log")
        spelled = os.path.join(self.dir, ".", "fresh.log")
        for trace, log in ((target, target), (alias, target), (fresh, spelled)):
            for extra in ([], ["--yes"]):
                code, out, err = self.velmora("run", "dump", "--device", "sim", "--trace", trace,
                                              "--log-file", log, *extra)
                self.assertEqual(code, 64, out + err)
                self.assertIn("name one file", err)
                self.assertNotIn("Establishing communication", out)
        self.assertEqual(self.read_bytes(target), b"kept\n")
        self.assertFalse(os.path.exists(fresh), "nothing was made")

    def test_kv70_outputs_over_a_file_the_run_reads_are_refused(self):
        firmware = self.register_firmware("Sample application 2.1", self.sample())
        before = self.read_bytes(firmware)
        monitor = self.path("monitor.bin")
        with open(monitor, "wb") as f:
            f.write(b"\x60\xfe" + b"\x00" * 8552)
        cases = [
            (["run", "upgrade", "--device", "sim", "--firmware", "Sample application 2.1", "--yes",
              "--trace", firmware], "--trace %s: that is the firmware file" % firmware),
            (["run", "dump", "--device", "sim", "--log-file", firmware, "--yes"],
             "--log-file %s: that is the firmware file" % firmware),
            (["run", "config", "--device", "sim", "--monitor-image", monitor, "--trace", monitor],
             "--trace %s: that is the flash monitor program" % monitor),
        ]
        for args, why in cases:
            code, out, err = self.velmora(*args)
            self.assertEqual(code, 64, "%s: %s%s" % (args, out, err))
            self.assertIn(why, err)
            self.assertNotIn("Establishing communication", out)
        self.assertEqual(self.read_bytes(firmware), before)
        self.assertEqual(os.path.getsize(monitor), 8554)

    def test_kv70_a_log_file_that_appeared_after_next_is_not_replaced(self):
        log = self.path("fs.log")
        # In real time, so that there is a moment between Next and the dump's open.
        proc = self.start("run", "dump", "--device", "sim:realtime=1", "--log-file", log)
        seen = self.read_until(proc, "Establishing communication")
        self.assertFalse(os.path.exists(log), "Next left nothing")
        with open(log, "w") as f:
            f.write("another program's dump\n")
        code, out, err = self.finish(proc, seen)
        self.assertEqual(code, 1, out + err)
        self.assertIn("Access to %s was denied." % log, out)
        self.assertIn("File system dump failed.", out)
        with open(log) as f:
            self.assertEqual(f.read(), "another program's dump\n")
        self.assertNotIn("holds", out, "the file is not the dump's")

    def test_kv70_stop_signals_cancel_a_dump_and_say_what_its_log_holds(self):
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            log = self.path("fs-%d.log" % sig)
            # The cable is out for good from block 300 on: the run waits until it is stopped.
            proc = self.start("run", "dump", "--device", "sim:pull=300-999999999", "--log-file", log,
                              "--give-up-after", "0")
            seen = self.read_until(proc, "Timeout getting response from KV!")
            proc.send_signal(sig)
            code, out, err = self.finish(proc, seen)
            self.assertEqual(code, 2, "%s: %s%s" % (sig, out, err))
            self.assertIn("The operation was canceled.", out)
            self.assertIn("File system dump was cancelled.", out)
            self.assertIn(self.partial_text(log) + "\n", out)
            self.assertLess(os.path.getsize(log), 1024 * 1024)

    def test_kv70_dump_given_up_says_what_its_log_holds(self):
        log = self.path("fs.log")
        code, out, err = self.velmora("run", "dump", "--device", "sim:pull=300-999999999",
                                      "--log-file", log, "--give-up-after", "60")
        self.assertEqual(code, 1, out + err)
        self.assertIn(self.partial_text(log) + "\n", out)
        # A whole dump says nothing of the kind.
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", log, "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertNotIn("not a complete dump", out)

    def test_kv70_sigterm_after_the_erase_warns_and_a_second_signal_ends_at_once(self):
        self.register_firmware("Sample application 2.1", self.sample())
        # In real time, with an erase that never finishes: the run is erasing when stopped.
        args = ["run", "upgrade", "--device", "sim:realtime=1,erase-busy=forever",
                "--firmware", "Sample application 2.1", "--yes"]
        proc = self.start(*args)
        seen = self.read_until(proc, "Erasing program flash...")
        proc.send_signal(signal.SIGTERM)
        code, out, err = self.finish(proc, seen)
        self.assertEqual(code, 2, out + err)
        self.assertIn("The operation was canceled.", out)
        self.assertIn("may now hold an incomplete application. Run the upgrade again", out)
        # Two stop signals at once: the second does not wait for the run to stop.
        proc = self.start(*args)
        seen = self.read_until(proc, "Erasing program flash...")
        os.kill(proc.pid, signal.SIGSTOP)
        os.kill(proc.pid, signal.SIGTERM)
        os.kill(proc.pid, signal.SIGHUP)
        os.kill(proc.pid, signal.SIGCONT)
        code, out, err = self.finish(proc, seen)
        self.assertEqual(code, 2, out + err)
        self.assertIn("velmora: stopped at your request; the device may need a restart.", out)

    # --- service records ------------------------------------------------------------

    def history(self, *args):
        code, out, err = self.velmora("history", "--json", *args)
        self.assertEqual(code, 0, out + err)
        return [json.loads(line) for line in out.splitlines()]

    def run_json(self, *args):
        """A run with --json: its events, each line parsed, and the exit status."""
        code, out, err = self.velmora("run", *args, "--json")
        events = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(events[-1]["event"], "result", out)
        self.assertEqual(events[-1]["exit"], code)
        return code, events, err

    def sha256(self, path):
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def assert_record_fields(self, record, operation, result, exit_status):
        self.assertEqual(record["operation"], operation)
        self.assertEqual(record["result"], result)
        self.assertEqual(record["exit_status"], exit_status)
        self.assertRegex(record["started"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertRegex(record["ended"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertGreaterEqual(record["ended"], record["started"])
        self.assertEqual(record["station"], socket.gethostname())
        self.assertEqual(record["user"], pwd.getpwuid(os.geteuid()).pw_name)
        self.assertTrue(record["version"])
        self.assertEqual(record["com_port"], 1)

    def test_records_of_a_config_run_carry_the_device_and_the_json_result_its_id(self):
        code, events, err = self.run_json("config", "--device", "sim:serial=KV70-0099001")
        self.assertEqual(code, 0, err)
        result = events[-1]
        self.assertEqual(result["serial"], "KV70-0099001")
        self.assertIsInstance(result["record"], int)
        [record] = self.history()
        self.assertEqual(record["id"], result["record"])
        self.assert_record_fields(record, "config", "succeeded", 0)
        self.assertEqual(record["port"], "sim:serial=KV70-0099001")
        self.assertEqual(record["serial"], "KV70-0099001")
        self.assertEqual(record["owner1"], "Quarnell Survey")
        self.assertEqual(record["hardware"]["flash_type"], 8922)
        self.assertEqual(record["hardware"]["file_system_mb"], 1)
        self.assertEqual([a["option"] for a in record["applications"]], [33])
        self.assertIsNone(record["failure"])
        self.assertIsNone(record["firmware"])
        self.assertIsNone(record["log_file"])
        # The CSV form lists the same run under its header.
        code, out, err = self.velmora("history", "--csv", "--serial", "kv70-0099001")
        self.assertEqual(code, 0, out + err)
        rows = list(csv.DictReader(io.StringIO(out)))
        self.assertEqual(len(rows), 1)
        self.assertEqual(rows[0]["id"], str(record["id"]))
        self.assertEqual(rows[0]["result"], "succeeded")

    def test_records_of_an_upgrade_name_the_firmware_by_its_sha256_and_word(self):
        target = self.register_firmware("Sample application 2.1", self.sample())
        code, events, err = self.run_json("upgrade", "--device", "sim", "--firmware",
                                          "Sample application 2.1", "--yes")
        self.assertEqual(code, 0, err)
        # A failed one: the program requests are refused after the erase.
        code, events, err = self.run_json("upgrade", "--device", "sim:program-refuse=all",
                                          "--firmware", "Sample application 2.1", "--yes")
        self.assertEqual(code, 1, err)
        self.assertEqual(events[-1]["failure"]["number"], 405)
        ok, failed = self.history("--operation", "upgrade")
        self.assert_record_fields(ok, "upgrade", "succeeded", 0)
        self.assert_record_fields(failed, "upgrade", "failed", 1)
        for record in (ok, failed):
            firmware = record["firmware"]
            self.assertEqual(firmware["description"], "Sample application 2.1")
            self.assertEqual(firmware["path"], target)
            self.assertEqual(firmware["size"], os.path.getsize(self.sample()))
            self.assertEqual(firmware["sha256"], self.sha256(self.sample()))
            self.assertEqual(firmware["software_word"], "564D0021")
            self.assertTrue(record["erase_reached"])
        self.assertIsNone(ok["failure"])
        self.assertEqual(failed["failure"]["number"], 405)
        self.assertIn("[405]", failed["failure"]["text"])
        self.assertEqual(failed["id"], events[-1]["record"])
        # Refused before the erase: the record says the erase was not reached.
        code, out, err = self.velmora("run", "upgrade", "--device", "sim:pull=1-999999999",
                                      "--firmware", "Sample application 2.1", "--yes")
        self.assertNotEqual(code, 0, out + err)
        last = self.history("--operation", "upgrade")[-1]
        self.assertEqual(last["result"], "failed")
        self.assertFalse(last["erase_reached"])
        self.assertNotIn("incomplete application", out)

    def test_records_of_a_dump_hash_the_log_file_and_mark_a_cut_one_incomplete(self):
        log = self.path("whole.log")
        code, out, err = self.velmora("run", "dump", "--device", "sim", "--log-file", log)
        self.assertEqual(code, 0, out + err)
        cut = self.path("cut.log")
        code, out, err = self.velmora("run", "dump", "--device", "sim:pull=300-999999999",
                                      "--log-file", cut, "--give-up-after", "60")
        self.assertEqual(code, 1, out + err)
        whole, short = self.history("--operation", "dump")
        self.assert_record_fields(whole, "dump", "succeeded", 0)
        self.assertEqual(whole["log_file"], {"path": log, "bytes": 1024 * 1024,
                                             "sha256": self.sha256(log), "complete": True})
        self.assert_record_fields(short, "dump", "failed", 1)
        self.assertEqual(short["log_file"], {"path": cut, "bytes": os.path.getsize(cut),
                                             "sha256": self.sha256(cut), "complete": False})
        self.assertGreater(short["log_file"]["bytes"], 0)
        self.assertLess(short["log_file"]["bytes"], 1024 * 1024)
        # A dump refused before it wrote anything names no log file of somebody else's.
        other = self.path("other.log")
        proc = self.start("run", "dump", "--device", "sim:realtime=1", "--log-file", other)
        seen = self.read_until(proc, "Establishing communication")
        with open(other, "w") as f:
            f.write("another program's dump\n")
        code, out, err = self.finish(proc, seen)
        self.assertEqual(code, 1, out + err)
        last = self.history()[-1]
        self.assertEqual(last["result"], "failed")
        self.assertIsNone(last["log_file"])

    def test_records_of_cancelled_runs_for_each_operation(self):
        self.register_firmware("Sample application 2.1", self.sample())
        cases = [
            (["config", "--device", "sim:pull=30-999999999"], "progress 0%"),
            (["upgrade", "--device", "sim:erase-busy=forever", "--firmware",
              "Sample application 2.1", "--yes"], "Erasing program flash..."),
            (["dump", "--device", "sim:pull=300-999999999", "--log-file", self.path("fs.log")],
             "Timeout getting response from KV!"),
        ]
        for args, wanted in cases:
            proc = self.start("run", *args, "--give-up-after", "0")
            seen = self.read_until(proc, wanted)
            proc.send_signal(signal.SIGINT)
            code, out, err = self.finish(proc, seen)
            self.assertEqual(code, 2, out + err)
        records = self.history("--result", "cancelled")
        self.assertEqual([r["operation"] for r in records], ["config", "upgrade", "dump"])
        for record in records:
            self.assertEqual(record["exit_status"], 2)
            self.assertTrue(record["ended"])
        self.assertTrue(records[1]["erase_reached"])
        self.assertFalse(records[2]["log_file"]["complete"])

    def test_records_of_killed_runs_stay_interrupted(self):
        self.register_firmware("Sample application 2.1", self.sample())
        cases = [
            ["config"],
            ["upgrade", "--firmware", "Sample application 2.1", "--yes"],
            ["dump", "--log-file", self.path("fs.log")],
        ]
        for args in cases:
            # In real time, so that the run is still going when it is killed.
            proc = self.start("run", args[0], "--device", "sim:realtime=1", *args[1:])
            # The begun record is on the disk before the run gets past its first exchange
            # with the device; by 15% the flash monitor is being uploaded.
            self.read_until(proc, "progress 15%")
            proc.kill()
            proc.communicate()
        records = self.history()
        self.assertEqual([r["operation"] for r in records], ["config", "upgrade", "dump"])
        for record in records:
            self.assertEqual(record["result"], "interrupted", record)
            self.assertIsNone(record["ended"])
            self.assertIsNone(record["exit_status"])
        # A killed run never reads as a success, and the next run's record comes after it.
        code, out, err = self.velmora("run", "config", "--device", "sim")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.history("--result", "interrupted"), records)
        self.assertEqual(self.history()[-1]["id"], records[-1]["id"] + 1)

    def test_records_of_two_runs_at_once_are_both_kept(self):
        procs = [self.start("run", "config", "--device", "sim:serial=KV70-00000%d" % n, "--json")
                 for n in range(1, 5)]
        ids = []
        for proc in procs:
            code, out, err = self.finish(proc)
            self.assertEqual(code, 0, out + err)
            ids.append(json.loads(out.splitlines()[-1])["record"])
        records = self.history()
        self.assertEqual(sorted(r["id"] for r in records), sorted(ids))
        self.assertEqual(len(set(ids)), 4)
        self.assertEqual(sorted(r["serial"] for r in records),
                         ["KV70-00000%d" % n for n in range(1, 5)])
        self.assertTrue(all(r["result"] == "succeeded" for r in records))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--fake", required=True)
    parser.add_argument("--samples", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
