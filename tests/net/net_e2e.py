"""velmora and kv70sim over real sockets on the loopback address: the three operations
over RFC 2217 with the boot ROM signalling by breaks, the same wire trace as on the
in-process simulator, a plain TCP port refused with a reason, six devices at once on one
registry, and interoperation with servers and clients no one here wrote (ser2net,
pyserial). Every process gets a hang guard, so a test always ends by itself; nothing
asserts on wall time. The simulators run faster than real time (--speedup) so that a
1 MiB dump takes seconds; their boot and frame-gap times are scaled to match."""
import argparse
import concurrent.futures
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ARGS = None
HANG_GUARD_S = 240
SPEEDUP = 32
# Device times scaled by SPEEDUP: the first break about 0.5 s after a client connects,
# a frame interrupted by a stall of up to 0.1 s on a busy machine still taken.
SIM_SETTINGS = "boot-ms=%d,frame-gap-ms=%d" % (500 * SPEEDUP, 100 * SPEEDUP)
SAMPLE = "Sample application 2.1"
PYTHON = "/usr/bin/python3"   # Debian's interpreter, where python3-serial imports
TRACE_BYTES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                           "trace_bytes.py")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sim:
    """One kv70sim process; stops on SIGTERM and then writes its output files."""

    def __init__(self, test, mode, settings):
        self.err_path = test.path("sim-%d.err" % id(self))
        self.err = open(self.err_path, "w")
        argv = [ARGS.kv70sim] + mode + ["--speedup", str(SPEEDUP), settings]
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.err, text=True)
        self.address = self.proc.stdout.readline().strip()
        test.assertTrue(self.address, "kv70sim printed no address")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()
        with open(self.err_path) as f:
            return f.read()


class PlainTcpServer:
    """A TCP port that is no RFC 2217 server: it takes connections and either never sends
    a byte (a raw port in front of a quiet line) or echoes what comes."""

    def __init__(self, echo):
        self.echo = echo
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        connections = []
        while not self.stopping.is_set():
            try:
                conn, _ = self.listener.accept()
                conn.settimeout(0.1)
                connections.append(conn)
            except socket.timeout:
                pass
            for conn in list(connections):
                try:
                    data = conn.recv(4096)
                except socket.timeout:
                    continue
                except OSError:
                    data = b""
                if not data:
                    conn.close()
                    connections.remove(conn)
                elif self.echo:
                    conn.sendall(data)
        for conn in connections:
            conn.close()
        self.listener.close()

    def stop(self):
        self.stopping.set()
        self.thread.join()


def wire_bytes(path):
    """The trace as scripts/trace_bytes.py prints it (no times, no read-burst boundaries),
    with the length of each break sent dropped too: it is a time."""
    result = subprocess.run([sys.executable, TRACE_BYTES, path], capture_output=True, text=True, check=True)
    return ["! break-sent" if line.startswith("! break-sent ") else line
            for line in result.stdout.splitlines()]


class NetTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmora-net-")
        self.env = dict(os.environ)
        self.env["HOME"] = self.dir
        self.env["VELMORA_REGISTRY"] = os.path.join(self.dir, "registry.db")
        self.env.pop("VELMORA_DATA", None)
        for n in range(1, 7):
            self.env.pop("VELMORA_COM%d" % n, None)
        self.sims = []
        self.others = []

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        for proc in self.others:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def sim(self, mode, settings=""):
        sim = Sim(self, mode, ",".join(s for s in (SIM_SETTINGS, settings) if s))
        self.sims.append(sim)
        return sim

    def velmora(self, *args):
        result = subprocess.run([ARGS.velmora] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, env=self.env, timeout=HANG_GUARD_S)
        return result.returncode, result.stdout, result.stderr

    def register_sample(self):
        firmware_dir = os.path.join(self.dir, "Firmware")
        os.makedirs(firmware_dir, exist_ok=True)
        target = os.path.join(firmware_dir, "velmora-sample.x")
        shutil.copyfile(os.path.join(ARGS.samples, "velmora-sample.x"), target)
        reg = self.path("firmware.reg")
        with open(reg, "w") as out:
            out.write("REGEDIT4\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n"
                      "\"InstallDirectory\"=\"%s\"\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\%s]\n"
                      "\"Description\"=\"%s\"\n\"DeviceType\"=\"KV70\"\n\"FirmwarePath\"=\"%s\"\n"
                      "\"OriginalInstall\"=dword:00000000\n" % (self.dir, SAMPLE, SAMPLE, target))
        code, out, err = self.velmora("registry", "import", reg)
        self.assertEqual(code, 0, out + err)

    def catalogue(self):
        exported = self.path("catalogue-%d.reg" % time.monotonic_ns())
        code, out, err = self.velmora("registry", "export", exported,
                                      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware")
        self.assertEqual(code, 0, out + err)
        with open(exported) as f:
            return f.read()

    def expected_program(self):
        return subprocess.run(["srec_cat", os.path.join(ARGS.samples, "velmora-sample.x"), "-offset",
                               "-0x02400000", "-o", "-", "-binary"], capture_output=True, check=True).stdout

    # --- one operation each, checked the same way whatever carries the line ---------

    def run_config(self, device, port=1, trace=None):
        code, out, err = self.velmora("run", "config", "--port", str(port), "--device", device,
                                      "--trace", self.path(trace or "config-%d.trace" % port))
        self.assertEqual(code, 0, out + err)
        self.assertIn("The configuration information was retrieved successfully.", out)
        return out

    def run_upgrade(self, device, port=1):
        code, out, err = self.velmora("run", "upgrade", "--port", str(port), "--device", device, "--firmware",
                                      SAMPLE, "--yes", "--trace", self.path("upgrade-%d.trace" % port))
        self.assertEqual(code, 0, out + err)
        self.assertIn("The software upgrade was completed successfully.", out)

    def run_dump(self, device, port=1):
        log = self.path("fs-%d.log" % port)
        code, out, err = self.velmora("run", "dump", "--port", str(port), "--device", device, "--log-file", log,
                                      "--trace", self.path("dump-%d.trace" % port))
        self.assertEqual(code, 0, out + err)
        self.assertIn("The file system dump completed successfully.", out)
        with open(log, "rb") as f:
            return f.read()

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def trace_events(self, name):
        with open(self.path(name)) as f:
            return [line.split(" ", 2)[2].strip() for line in f if " ! " in line]

    # --- over RFC 2217 against kv70sim --rfc2217 ---------------------------------

    def test_config_over_rfc2217_breaks_both_ways(self):
        sim = self.sim(["--rfc2217", "127.0.0.1:0"], "serial=KV70-NET-0001")
        out = self.run_config("rfc2217://" + sim.address)
        self.assertIn("KV70-NET-0001", out)
        events = self.trace_events("config-1.trace")
        # The boot ROM's break came over the network; the reboot's break went to the device.
        self.assertIn("break-received", events)
        self.assertTrue([e for e in events if e.startswith("break-sent ")], events)
        # After the note of which monitor image the run uses, the line starts at 9600.
        self.assertEqual(events[0], "monitor-image embedded stand-in")
        self.assertEqual([e for e in events if e.startswith("speed ")][:2],
                         ["speed 9600", "speed 38400"])
        self.assertIn("kv70sim: break from the PC", sim.stop())
        # The same operation on the in-process simulator: the same bytes each way, breaks and
        # speed changes, so no telnet framing (nor anything else) was added or lost.
        self.run_config("sim:serial=KV70-NET-0001", trace="config-inprocess.trace")
        network = wire_bytes(self.path("config-1.trace"))
        self.assertTrue([line for line in network if line.startswith("< ")], network)
        self.assertEqual(network, wire_bytes(self.path("config-inprocess.trace")))

    def test_dump_over_rfc2217(self):
        fs_out = self.path("fs-out.bin")
        sim = self.sim(["--rfc2217", "0"], "fs-out=" + fs_out)
        dumped = self.run_dump("rfc2217://" + sim.address)
        sim.stop()
        self.assertEqual(len(dumped), 1024 * 1024)
        self.assertEqual(dumped, self.read("fs-out.bin"))
        events = self.trace_events("dump-1.trace")
        self.assertIn("break-received", events)
        self.assertTrue([e for e in events if e.startswith("break-sent ")], events)

    def test_upgrade_over_rfc2217(self):
        self.register_sample()
        prog = self.path("prog.bin")
        sim = self.sim(["--rfc2217", "0"], "prog-out=" + prog)
        self.run_upgrade("rfc2217://" + sim.address)
        sim.stop()
        expected = self.expected_program()
        self.assertEqual(self.read("prog.bin")[:len(expected)], expected)
        events = self.trace_events("upgrade-1.trace")
        self.assertIn("break-received", events)
        self.assertTrue([e for e in events if e.startswith("break-sent ")], events)

    def test_server_gone_is_a_clear_failure(self):
        port = free_port()
        code, out, err = self.velmora("run", "config", "--device", "rfc2217://127.0.0.1:%d" % port)
        self.assertEqual(code, 1, out + err)
        self.assertIn("COM1: rfc2217://127.0.0.1:%d: nobody serves that port" % port, out)
        code, out, err = self.velmora("run", "config", "--device", "rfc2217://nohost")
        self.assertEqual(code, 64, out + err)
        self.assertIn("expected rfc2217://HOST:PORT", err)

    def test_plain_tcp_port_is_refused_saying_why(self):
        # The plug-in's message gives only the error number (50); velmora and the trace
        # say why.
        for echo in (False, True):
            with self.subTest(echo=echo):
                server = PlainTcpServer(echo)
                try:
                    trace = "plain-%d.trace" % echo
                    code, out, err = self.velmora("run", "config", "--device",
                                                  "rfc2217://127.0.0.1:%d" % server.port,
                                                  "--trace", self.path(trace))
                finally:
                    server.stop()
                self.assertEqual(code, 1, out + err)
                self.assertIn("[50] attempting to open COM1", out + err)
                self.assertIn("COM1: rfc2217://127.0.0.1:%d: the server does not speak RFC 2217"
                              % server.port, out)
                notes = [e for e in self.trace_events(trace) if e.startswith("open-failed ")]
                self.assertEqual(len(notes), 1, self.trace_events(trace))
                self.assertIn("rfc2217://127.0.0.1:%d: the server does not speak RFC 2217" % server.port,
                              notes[0])

    def test_a_busy_server_is_told_apart_from_one_without_rfc2217(self):
        # A server busy with another client turns the next away: with a line of text (as
        # ser2net does), or by closing at once.
        for greeting, why in ((b"Port already in use\r\n",
                               'the server is busy with another client: it said "Port already in use"'),
                              (b"", "the server closed the connection at once: it is busy with another "
                                    "client")):
            with self.subTest(greeting=greeting):
                listener = socket.socket()
                listener.bind(("127.0.0.1", 0))
                listener.listen(1)
                port = listener.getsockname()[1]

                def turn_away():
                    conn, _ = listener.accept()
                    conn.sendall(greeting)
                    conn.close()

                thread = threading.Thread(target=turn_away, daemon=True)
                thread.start()
                try:
                    code, out, err = self.velmora("run", "config", "--device", "rfc2217://127.0.0.1:%d" % port)
                finally:
                    thread.join(timeout=HANG_GUARD_S)
                    listener.close()
                self.assertEqual(code, 1, out + err)
                self.assertIn("COM1: rfc2217://127.0.0.1:%d: %s" % (port, why), out)
                self.assertNotIn("plain TCP port", out)

    def test_a_bad_port_in_the_address_names_the_part(self):
        for port, why in (("0", "the port 0 is outside 1 to 65535"),
                          ("70000", "the port 70000 is outside 1 to 65535"),
                          ("http", 'the port "http" is not a number (1 to 65535)'),
                          ("", 'no port after "127.0.0.1:"')):
            with self.subTest(port=port):
                code, out, err = self.velmora("run", "config", "--device", "rfc2217://127.0.0.1:" + port)
                self.assertEqual(code, 64, out + err)
                self.assertIn("--device rfc2217://127.0.0.1:%s: %s" % (port, why), err)

    def test_server_stopped_mid_dump_says_the_connection_closed(self):
        sim = self.sim(["--rfc2217", "0"])
        device = "rfc2217://" + sim.address
        log = self.path("fs.log")
        velmora = subprocess.Popen([ARGS.velmora, "run", "dump", "--device", device, "--log-file", log,
                                    "--give-up-after", "60"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, env=self.env)
        self.others.append(velmora)
        # The dump is under way once the log file holds a block; then the server goes.
        deadline = time.monotonic() + HANG_GUARD_S
        while not (os.path.exists(log) and os.path.getsize(log) > 0):
            self.assertIsNone(velmora.poll(), "velmora ended before the dump began")
            self.assertLess(time.monotonic(), deadline, "the dump never began")
            time.sleep(0.05)
        sim.proc.kill()
        out, err = velmora.communicate(timeout=HANG_GUARD_S)
        self.assertEqual(velmora.returncode, 1, out + err)
        self.assertIn("[1167] with COM1", out)
        self.assertIn("COM1: %s: the server closed the connection.\n" % device, out)

    def test_six_devices_at_once_on_one_registry(self):
        self.register_sample()
        before = self.catalogue()
        sims = []
        for n in range(1, 7):
            sims.append(self.sim(["--rfc2217", "0"], "serial=KV70-SIX-%04d,prog-out=%s,fs-out=%s" % (
                n, self.path("prog-%d.bin" % n), self.path("fs-out-%d.bin" % n))))

        def one_device(n):
            device = "rfc2217://" + sims[n - 1].address
            self.run_upgrade(device, n)
            return self.run_dump(device, n)

        with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
            dumps = list(pool.map(one_device, range(1, 7)))
        expected = self.expected_program()
        for n in range(1, 7):
            sims[n - 1].stop()
            self.assertEqual(self.read("prog-%d.bin" % n)[:len(expected)], expected, "device %d" % n)
            self.assertEqual(dumps[n - 1], self.read("fs-out-%d.bin" % n), "device %d" % n)
        self.assertEqual(self.catalogue(), before)

    # --- servers and clients no one here wrote -------------------------------------

    def ser2net(self, pty_path, kick=True):
        ser2net = shutil.which("ser2net")
        if not ser2net:
            self.skipTest("ser2net is not installed (Debian package ser2net; scripts/install-deps.sh)")
        port = free_port()
        config = self.path("ser2net.yaml")
        with open(config, "w") as f:
            f.write("connection: &kv70\n"
                    "  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,9600n81,local\n"
                    "  options:\n"
                    "    kickolduser: %s\n" % (port, pty_path, "true" if kick else "false"))
        # -n: stay in the foreground; -u: no UUCP lock files outside the test's directory.
        proc = subprocess.Popen([ser2net, "-n", "-u", "-c", config, "-P", self.path("ser2net.pid")],
                                stdout=subprocess.DEVNULL, stderr=open(self.path("ser2net.err"), "w"))
        self.others.append(proc)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:   # waits for the listener, not for the device
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                self.assertIsNone(proc.poll(), "ser2net ended: " + open(self.path("ser2net.err")).read())
                time.sleep(0.05)
        return "rfc2217://127.0.0.1:%d" % port

    def pty_sim(self, settings):
        # A pty carries no break: the device waits in its boot ROM (state=rom) and the loader
        # probes it after waiting in vain for a break.
        return self.sim(["--pty"], "state=rom," + settings)

    def test_ser2net_busy_with_another_client_says_so(self):
        # A pty nobody answers on: the device is not needed, only the port being taken.
        master, slave = os.openpty()
        path = os.ttyname(slave)
        os.close(slave)
        self.addCleanup(os.close, master)
        device = self.ser2net(path, kick=False)
        host, port = device[len("rfc2217://"):].rsplit(":", 1)
        first = socket.create_connection((host, int(port)))
        self.addCleanup(first.close)
        first.recv(64)   # ser2net has taken the first client once it negotiates with it
        code, out, err = self.velmora("run", "config", "--device", device)
        self.assertEqual(code, 1, out + err)
        self.assertIn('COM1: %s: the server is busy with another client: it said "Port already in use"'
                      % device, out)

    def test_ser2net_config(self):
        sim = self.pty_sim("serial=KV70-SER2NET-01")
        out = self.run_config(self.ser2net(sim.address))
        self.assertIn("KV70-SER2NET-01", out)
        self.assertIn("speed 38400", self.trace_events("config-1.trace"))

    def test_ser2net_upgrade(self):
        self.register_sample()
        prog = self.path("prog.bin")
        sim = self.pty_sim("prog-out=" + prog)
        self.run_upgrade(self.ser2net(sim.address))
        sim.stop()
        expected = self.expected_program()
        self.assertEqual(self.read("prog.bin")[:len(expected)], expected)

    def test_ser2net_dump(self):
        fs_out = self.path("fs-out.bin")
        sim = self.pty_sim("fs-out=" + fs_out)
        dumped = self.run_dump(self.ser2net(sim.address))
        sim.stop()
        self.assertEqual(dumped, self.read("fs-out.bin"))

    def test_pyserial_client(self):
        probe = subprocess.run([PYTHON, "-c", "import serial.rfc2217"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("pyserial is not installed (Debian package python3-serial; scripts/install-deps.sh)")
        # The boot ROM keeps signalling, so a break arrives after the client asked to hear it.
        sim = self.sim(["--rfc2217", "0"], "breaks=1000,break-interval-ms=%d" % (100 * SPEEDUP))
        client = r'''
import sys, time
import serial, serial.rfc2217 as r
s = serial.serial_for_url("rfc2217://" + sys.argv[1], baudrate=9600, timeout=1)
s.rfc2217_send_subnegotiation(r.SET_LINESTATE_MASK, bytes([r.LINESTATE_MASK_BREAK_DETECT]))
s.baudrate = 38400                      # waits for the server's answer, raises without one
print("speed", s.baudrate)
s.send_break(0.25)                      # BREAK ON and OFF, each answered
for _ in range(400):                    # a bounded wait for the notification
    if s._linestate & r.LINESTATE_MASK_BREAK_DETECT:
        break
    time.sleep(0.025)
print("linestate", s._linestate)
s.close()
'''
        result = subprocess.run([PYTHON, "-c", client, sim.address], capture_output=True, text=True,
                                timeout=HANG_GUARD_S)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("speed 38400", result.stdout)
        self.assertIn("linestate 16", result.stdout)
        self.assertIn("kv70sim: break from the PC", sim.stop())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--kv70sim", required=True)
    parser.add_argument("--samples", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
