"""velmora station against kv70sim processes served over RFC 2217 on the loopback address,
as a user types it: six devices with their own serial numbers and file systems, one
cable pulled for good among healthy slots, an upgrade of four devices, and --repeat on a
device that restarts for every new connection. The simulators run faster than real time;
every process has a hang guard and nothing asserts on wall time."""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest

ARGS = None
HANG_GUARD_S = 300
SPEEDUP = 32
SIM_SETTINGS = "boot-ms=%d,frame-gap-ms=%d" % (500 * SPEEDUP, 100 * SPEEDUP)
SAMPLE = "Sample application 2.1"
FS_BYTES = 1 << 20


class Sim:
    def __init__(self, test, settings):
        self.err = open(test.path("sim-%d.err" % id(self)), "w")
        argv = [ARGS.kv70sim, "--rfc2217", "127.0.0.1:0", "--speedup", str(SPEEDUP), SIM_SETTINGS + "," + settings]
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.err, text=True)
        printed = self.proc.stdout.readline().strip()
        test.assertTrue(printed, "kv70sim printed no address")
        self.address = printed if printed.startswith("rfc2217://") else "rfc2217://" + printed

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()
        self.proc.stdout.close()


class StationNetTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = dict(os.environ, VELMORA_REGISTRY=self.path("registry.db"), HOME=self.dir)
        self.logs = self.path("logs")
        os.mkdir(self.logs)
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def sim(self, settings):
        sim = Sim(self, settings)
        self.sims.append(sim)
        return sim

    def velmora(self, *args):
        proc = subprocess.run([ARGS.velmora] + list(args), capture_output=True, text=True, env=self.env,
                              cwd=self.dir, stdin=subprocess.DEVNULL, timeout=HANG_GUARD_S)
        return proc.returncode, proc.stdout, proc.stderr

    def rows(self, out):
        lines = out.splitlines()
        start = max(i for i, line in enumerate(lines) if line.startswith("slot "))
        head = lines[start]
        columns = [m.start() for m in re.finditer(r"\S+( \S+)?", head)]
        names = [head[c:].split("  ")[0].strip() for c in columns]
        return [dict(zip(names, [line[c:(columns[k + 1] if k + 1 < len(columns) else None)].strip()
                                 for k, c in enumerate(columns)])) for line in lines[start + 1:]]

    def test_six_devices_and_a_pulled_cable(self):
        images = {}
        slots = []
        for k in range(6):
            serial = "NET-%03d" % (100 + k)
            data = bytes((i * (5 + 2 * k) + (i >> 9)) & 0xFF for i in range(FS_BYTES))
            image = self.path("fs-%d.bin" % k)
            with open(image, "wb") as f:
                f.write(data)
            images[serial] = data
            slots += ["--slot", self.sim("serial=%s,fs-image=%s" % (serial, image)).address]
        code, out, err = self.velmora("station", "dump", "--log-dir", self.logs, *slots)
        self.assertEqual(code, 0, out + err)
        names = sorted(os.listdir(self.logs))
        self.assertEqual(len(names), 6, out)
        for name in names:
            serial = re.fullmatch(r"(NET-\d{3})-\d{8}-\d{6}\.log", name).group(1)
            with open(os.path.join(self.logs, name), "rb") as f:
                self.assertEqual(f.read(), images[serial], name)

        # The cable of the third slot is pulled for good a little into the dump.
        for sim in self.sims:
            sim.stop()
        self.sims = []
        slots = []
        for k in range(4):
            fault = ",pull=300-999999999" if k == 2 else ""
            slots += ["--slot", self.sim("serial=PULL-%d%s" % (k, fault)).address]
        logs = self.path("logs-2")
        os.mkdir(logs)
        code, out, err = self.velmora("station", "dump", "--log-dir", logs, "--give-up-after", "30", *slots)
        self.assertEqual(code, 1, out + err)
        rows = {r["slot"]: r for r in self.rows(out)}
        for slot in ("1", "2", "4"):
            self.assertEqual(rows[slot]["result"], "succeeded", out)
        self.assertEqual(rows["3"]["result"], "failed", out)
        self.assertIn("gave up", rows["3"]["failure"], out)

    def test_upgrade_of_four(self):
        code, out, err = self.velmora("firmware", "add", os.path.join(ARGS.samples, "velmora-sample.x"),
                                      "--description", SAMPLE)
        self.assertEqual(code, 0, out + err)
        slots = []
        for k in range(4):
            slots += ["--slot", self.sim("serial=UP-%d,prog-out=%s" % (k, self.path("prog-%d.bin" % k))).address]
        code, out, err = self.velmora("station", "upgrade", "--firmware", SAMPLE, "--yes", *slots)
        self.assertEqual(code, 0, out + err)
        for sim in self.sims:
            sim.stop()
        self.sims = []
        expected = subprocess.run(["srec_cat", os.path.join(ARGS.samples, "velmora-sample.x"), "-offset",
                                   "-0x02400000", "-o", "-", "-binary"], capture_output=True, check=True).stdout
        for k in range(4):
            with open(self.path("prog-%d.bin" % k), "rb") as f:
                self.assertEqual(f.read()[:len(expected)], expected, k)

    def test_repeat_three_devices_on_one_slot(self):
        sim = self.sim("serial=REP-1")
        code, out, err = self.velmora("station", "dump", "--repeat", "--count", "3", "--log-dir", self.logs,
                                      "--slot", sim.address)
        self.assertEqual(code, 0, out + err)
        rows = self.rows(out)
        self.assertEqual([r["result"] for r in rows], ["succeeded"] * 3, out)
        self.assertEqual(len(os.listdir(self.logs)), 3, out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--kv70sim", required=True)
    parser.add_argument("--samples", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
