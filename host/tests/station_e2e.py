"""velmora station as a user types it, against in-process simulated KV70s (virtual time):
six dumps named by their serial numbers, a pulled cable among healthy slots, an upgrade of
four devices, a question nobody sees, Ctrl-C, --repeat and a station file. Every process
gets a hang guard; nothing asserts on wall time."""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
HANG_GUARD_S = 240
SAMPLE = "Sample application 2.1"
FS_BYTES = 1 << 20


class StationTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = dict(os.environ, VELMORA_REGISTRY=self.path("registry.db"), HOME=self.dir,
                        TZ="UTC")
        self.logs = self.path("logs")
        os.mkdir(self.logs)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def velmora(self, *args):
        proc = subprocess.run([ARGS.velmora] + list(args), capture_output=True, text=True, env=self.env,
                              cwd=self.dir, stdin=subprocess.DEVNULL, timeout=HANG_GUARD_S)
        return proc.returncode, proc.stdout, proc.stderr

    def image(self, name, seed):
        data = bytes((i * seed + (i >> 8)) & 0xFF for i in range(FS_BYTES))
        with open(self.path(name), "wb") as f:
            f.write(data)
        return data

    def table(self, out):
        """The closing table's rows as dicts, by its header's columns."""
        lines = out.splitlines()
        start = max(i for i, line in enumerate(lines) if line.startswith("slot "))
        head = lines[start]
        columns = [m.start() for m in re.finditer(r"\S+( \S+)?", head)]
        names = [head[c:].split("  ")[0].strip() for c in columns]
        rows = []
        for line in lines[start + 1:]:
            cells = [line[c:(columns[k + 1] if k + 1 < len(columns) else None)].strip()
                     for k, c in enumerate(columns)]
            rows.append(dict(zip(names, cells)))
        return rows

    def test_six_dumps_named_by_serial(self):
        slots = []
        images = {}
        for k in range(6):
            serial = "KV70-%04d" % (1000 + k)
            images[serial] = self.image("fs-%d.bin" % k, 3 + 2 * k)
            slots += ["--slot", "sim:serial=%s,fs-image=%s" % (serial, self.path("fs-%d.bin" % k))]
        code, out, err = self.velmora("station", "dump", "--log-dir", self.logs, *slots)
        self.assertEqual(code, 0, out + err)
        names = sorted(os.listdir(self.logs))
        self.assertEqual(len(names), 6, names)
        for name in names:
            serial = re.fullmatch(r"(KV70-\d{4})-\d{8}-\d{6}\.log", name).group(1)
            with open(os.path.join(self.logs, name), "rb") as f:
                self.assertEqual(f.read(), images[serial], name)
        rows = self.table(out)
        self.assertEqual(sorted(r["serial"] for r in rows), sorted(images))
        self.assertTrue(all(r["result"] == "succeeded" for r in rows), out)
        self.assertTrue(all(r["log file"].startswith(self.logs) for r in rows), out)

    def test_pulled_cable_fails_that_slot_only(self):
        slots = ["--slot", "sim:serial=GOOD1", "--slot", "sim:serial=PULLED,pull-ms=60000-999999999",
                 "--slot", "sim:serial=GOOD2"]
        code, out, err = self.velmora("station", "dump", "--log-dir", self.logs, "--give-up-after", "30",
                                      *slots)
        self.assertEqual(code, 1, out + err)
        rows = {r["slot"]: r for r in self.table(out)}
        self.assertEqual(rows["1"]["result"], "succeeded")
        self.assertEqual(rows["3"]["result"], "succeeded")
        self.assertEqual(rows["2"]["result"], "failed")
        self.assertIn("gave up", rows["2"]["failure"], out)
        # The partial dump is kept, under the serial read before the cable went.
        self.assertEqual(sorted(n.split("-")[0] for n in os.listdir(self.logs)), ["GOOD1", "GOOD2", "PULLED"])

    def test_upgrade_of_four_and_a_question_nobody_sees(self):
        code, out, err = self.velmora("firmware", "add", os.path.join(ARGS.samples, "velmora-sample.x"),
                                      "--description", SAMPLE)
        self.assertEqual(code, 0, out + err)
        expected = subprocess.run(["srec_cat", os.path.join(ARGS.samples, "velmora-sample.x"), "-offset",
                                   "-0x02400000", "-o", "-", "-binary"], capture_output=True,
                                  check=True).stdout
        slots = []
        for k in range(4):
            slots += ["--slot", "sim:serial=UP%d,prog-out=%s" % (k, self.path("prog-%d.bin" % k))]
        code, out, err = self.velmora("station", "upgrade", "--firmware", SAMPLE, "--yes", *slots)
        self.assertEqual(code, 0, out + err)
        for k in range(4):
            with open(self.path("prog-%d.bin" % k), "rb") as f:
                flash = f.read()
            self.assertEqual(flash[:len(expected)], expected, k)
        # Without --yes nobody answers: a changed file under a registered name asks to
        # replace it, and the slot fails with the question as its reason.
        os.mkdir(self.path("b"))
        changed = self.path("b/velmora-sample.x")
        with open(os.path.join(ARGS.samples, "velmora-sample.x")) as f:
            lines = f.read().splitlines(True)
        with open(changed, "w") as f:
            f.writelines(lines[:-3] + lines[-1:])
        os.mkdir(self.path("home-2"))
        self.env.update(VELMORA_REGISTRY=self.path("home-2/registry.db"), HOME=self.path("home-2"))
        code, out, err = self.velmora("firmware", "add", os.path.join(ARGS.samples, "velmora-sample.x"))
        self.assertEqual(code, 0, out + err)
        code, out, err = self.velmora("station", "upgrade", "--firmware", changed, "--json",
                                      "--slot", "sim:serial=Q1", "--slot", "sim:serial=Q2")
        self.assertEqual(code, 1, out + err)
        events = [json.loads(line) for line in out.splitlines()]
        ends = [e for e in events if e["event"] == "slot_end"]
        self.assertEqual(len(ends), 2, out)
        for end in ends:
            self.assertTrue(end["failure"].startswith("question answered No: The file "), end)
            self.assertIn("Press yes to replace it", end["failure"])
        self.assertEqual(events[-1], {"event": "station_end", "version": 1, "exit": 1, "runs": 2})
        self.assertTrue(all(e["slot"] in (1, 2) for e in events[:-1] if e["event"] != "slot_end"), out)

    def test_ctrl_c_cancels_every_slot(self):
        slots = []
        for k in range(3):
            slots += ["--slot", "sim:serial=C%d,realtime=1" % k]
        proc = subprocess.Popen([ARGS.velmora, "station", "dump", "--json", "--log-dir", self.logs] + slots,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.env,
                                cwd=self.dir)
        deadline = time.monotonic() + HANG_GUARD_S
        started = set()
        while len(started) < 3 and time.monotonic() < deadline:
            line = proc.stdout.readline()
            if not line:
                break
            event = json.loads(line)
            if event["event"] == "progress":
                started.add(event["slot"])
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=HANG_GUARD_S)
        self.assertEqual(proc.returncode, 2, out + err)
        events = [json.loads(line) for line in out.splitlines()]
        ends = [e for e in events if e["event"] == "slot_end"]
        self.assertEqual(sorted(e["slot"] for e in ends), [1, 2, 3])
        self.assertTrue(all(e["result"] == "cancelled" for e in ends), out)
        results = [e for e in events if e["event"] == "result"]
        self.assertEqual(len(results), 3, out)

    def test_repeat_runs_three_devices_on_one_slot(self):
        code, out, err = self.velmora("station", "config", "--repeat", "--count", "3", "--json",
                                      "--slot", "sim:serial=R1")
        self.assertEqual(code, 0, out + err)
        events = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([e["result"] for e in events if e["event"] == "slot_end"], ["succeeded"] * 3)
        self.assertEqual(len([e for e in events if e["event"] == "start"]), 3)
        # Each run says its device's serial number before it ends.
        kinds = [e["event"] for e in events if e["event"] in ("device", "result")]
        self.assertEqual(kinds, ["device", "result"] * 3, out)
        self.assertTrue(all(e["serial"] == "R1" for e in events if e["event"] == "device"))
        self.assertEqual(events[-1], {"event": "station_end", "version": 1, "exit": 0, "runs": 3})

    def test_station_file_and_wrong_usage(self):
        config = self.path("station.toml")
        with open(config, "w") as f:
            f.write('slot = ["sim:serial=F1", "sim:serial=F2"]\nlog-dir = "%s"\n' % self.logs)
        code, out, err = self.velmora("station", "dump", "--config", config)
        self.assertEqual(code, 0, out + err)
        self.assertEqual(sorted(n[:3] for n in os.listdir(self.logs)), ["F1-", "F2-"])
        for args in (["station", "dump"],
                     ["station", "dump", "--slot", "/dev/ttyUSB7", "--slot", "/dev/ttyUSB7"],
                     ["station", "config", "--slot", "sim", "--log-dir", self.logs],
                     ["station", "dump", "--slot", "sim", "--log-dir", self.path("none")],
                     ["station", "dump", "--slot", "sim", "--count", "2"],
                     ["station", "nothing", "--slot", "sim"]):
            code, out, err = self.velmora(*args)
            self.assertEqual(code, 64, args)
            self.assertTrue(err.startswith("velmora: "), err)

    def test_a_slot_whose_run_refuses_its_options(self):
        code, out, err = self.velmora("station", "upgrade", "--firmware", "No such firmware", "--slot", "sim")
        self.assertEqual(code, 1, out + err)
        row = self.table(out)[0]
        self.assertEqual(row["result"], "failed")
        self.assertIn("No such firmware", row["failure"], out)

    def test_a_slot_without_its_device_says_why(self):
        # velmora lists the serial ports there are after its message: the message is the
        # slot's failure, not the list's last line.
        code, out, err = self.velmora("station", "dump", "--log-dir", self.logs,
                                      "--slot", "/dev/serial/by-path/none-such-port0")
        self.assertEqual(code, 1, out + err)
        row = self.table(out)[0]
        self.assertEqual(row["result"], "failed")
        self.assertIn("no such device", row["failure"], out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--samples", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
