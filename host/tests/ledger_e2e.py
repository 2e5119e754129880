#!/usr/bin/env python3
"""The depot's ledger: velmora writing service records to a PostgreSQL server.

Each case starts a server of its own (initdb and pg_ctl from Debian's postgresql package)
listening only on a Unix socket in the case's temporary folder, as the postgres user when
the tests run as root. Each station is a registry database of its own. Cases skip, naming
the package, when the server's programs are missing.
"""
import argparse
import glob
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from velmora_e2e import Terminal  # noqa: E402

ARGS = None
# A guard against a hung velmora or server, not a measure of anything.
HANG_GUARD_S = 120
SECRET = "s3cret-Pw"


def server_programs():
    for bindir in sorted(glob.glob("/usr/lib/postgresql/*/bin"), reverse=True):
        if os.path.exists(os.path.join(bindir, "initdb")) and os.path.exists(
                os.path.join(bindir, "pg_ctl")):
            return bindir
    return None


class Server:
    """A PostgreSQL server in `folder`, reached through the socket there."""

    def __init__(self, folder, bindir):
        self.folder = folder
        self.bindir = bindir
        self.data = os.path.join(folder, "pgdata")
        self.log = os.path.join(folder, "server.log")
        self.as_user = None
        if os.geteuid() == 0:
            # The server refuses to run as root: the postgres user owns the folder.
            entry = pwd.getpwnam("postgres")
            self.as_user = (entry.pw_uid, entry.pw_gid)
            os.chown(folder, entry.pw_uid, entry.pw_gid)
            os.chmod(folder, 0o755)

    def _run(self, *argv):
        def become():
            if self.as_user:
                os.setgid(self.as_user[1])
                os.setuid(self.as_user[0])
        result = subprocess.run([os.path.join(self.bindir, argv[0])] + list(argv[1:]),
                                capture_output=True, text=True, preexec_fn=become,
                                cwd=self.folder, timeout=HANG_GUARD_S)
        if result.returncode != 0:
            log = open(self.log).read() if os.path.exists(self.log) else ""
            raise AssertionError("%s failed: %s%s\n%s" % (argv[0], result.stdout, result.stderr, log))

    def init(self):
        self._run("initdb", "-D", self.data, "-A", "trust", "-U", "postgres", "--no-sync",
                  "-E", "UTF8", "--locale=C")

    def start(self):
        self._run("pg_ctl", "-D", self.data, "-l", self.log, "-w", "-o",
                  "-k %s -c listen_addresses= -p 5432 -c fsync=off" % self.folder, "start")

    def stop(self):
        self._run("pg_ctl", "-D", self.data, "-m", "fast", "-w", "stop")

    def url(self, password=None):
        user = "postgres" + (":" + password if password else "")
        return "postgresql://%s@/postgres?host=%s&port=5432" % (user, self.folder)


class LedgerTest(unittest.TestCase):
    def setUp(self):
        bindir = server_programs()
        if not bindir:
            self.skipTest("needs Debian's postgresql package (initdb, pg_ctl)")
        self.dir = tempfile.mkdtemp(prefix="velmora-ledger-")
        self.server = Server(self.dir, bindir)
        self.server.init()
        self.server.start()
        self.running = True
        self.terminal = None

    def tearDown(self):
        if self.terminal and self.terminal.status is None:
            try:
                os.kill(self.terminal.pid, 9)
                os.waitpid(self.terminal.pid, 0)
            except OSError:
                pass
        if self.running:
            try:
                self.server.stop()
            except AssertionError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    # --- helpers -------------------------------------------------------------------

    def env(self, station):
        """A station: its own home, registry database and data folder."""
        home = os.path.join(self.dir, station)
        os.makedirs(home, exist_ok=True)
        env = dict(os.environ)
        env["HOME"] = home
        env["VELMORA_REGISTRY"] = os.path.join(home, "registry.db")
        for name in ["VELMORA_DATA", "VELMORA_KV70_MONITOR", "VELMORA_LEDGER"] + [
                "VELMORA_COM%d" % n for n in range(1, 7)]:
            env.pop(name, None)
        env["TERM"] = "dumb"
        return env

    def velmora(self, station, *args, extra_env=None):
        env = self.env(station)
        env.update(extra_env or {})
        result = subprocess.run([ARGS.velmora] + list(args), stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, env=env, timeout=HANG_GUARD_S)
        return result.returncode, result.stdout, result.stderr

    def history(self, station, *args):
        code, out, err = self.velmora(station, "history", "--json", *args)
        self.assertEqual(code, 0, out + err)
        return [json.loads(line) for line in out.splitlines()]

    def ledger(self):
        return self.history("reader", "--ledger", self.server.url())

    def run_config(self, station, serial, *more):
        return self.velmora(station, "run", "config", "--device", "sim:serial=" + serial,
                            "--ledger", self.server.url(SECRET), *more)

    # --- the cases -----------------------------------------------------------------

    def test_two_stations_writing_at_once_keep_one_history(self):
        # Both start on a server without the table: both make it at once.
        runs = 3
        script = ("for i in $(seq %d); do \"$0\" run config --device sim:serial=$1 "
                  "--ledger \"$2\" || exit 1; done" % runs)
        procs = []
        for station, serial in (("north", "KV70-N"), ("south", "KV70-S")):
            procs.append(subprocess.Popen(
                ["/bin/sh", "-c", script, ARGS.velmora, serial, self.server.url(SECRET)],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                text=True, env=self.env(station)))
        for p in procs:
            out, err = p.communicate(timeout=HANG_GUARD_S)
            self.assertEqual(p.returncode, 0, out + err)
            self.assertNotIn(SECRET, out + err)
        rows = self.ledger()
        self.assertEqual(len(rows), 2 * runs, rows)
        for serial in ("KV70-N", "KV70-S"):
            mine = [r for r in rows if r["serial"] == serial]
            self.assertEqual(len(mine), runs)
            self.assertEqual({r["result"] for r in mine}, {"succeeded"})
            self.assertEqual(sorted(r["id"] for r in mine), list(range(1, runs + 1)))
            self.assertEqual({r["exit_status"] for r in mine}, {0})
            self.assertTrue(all(r["ended"] for r in mine))
        # The same fields as the local record.
        local = self.history("north")
        remote = [r for r in rows if r["serial"] == "KV70-N"]
        self.assertEqual(local, remote)
        # The password is never stored.
        for station in ("north", "south"):
            with open(os.path.join(self.dir, station, "registry.db"), "rb") as f:
                self.assertNotIn(SECRET.encode(), f.read())

    def test_the_desktop_host_writes_its_runs_to_the_ledger_too(self):
        gui = os.path.join(os.path.dirname(ARGS.velmora), "velmora-gui")
        if not os.path.exists(gui):
            self.skipTest("velmora-gui is not built here")
        env = self.env("desk")
        env["QT_QPA_PLATFORM"] = "offscreen"
        result = subprocess.run([gui, "--auto", "config", "--device", "sim:serial=KV70-DESK",
                                 "--ledger", self.server.url(SECRET)], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, env=env, timeout=HANG_GUARD_S)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn(SECRET, result.stdout + result.stderr)
        rows = [r for r in self.ledger() if r["serial"] == "KV70-DESK"]
        self.assertEqual([(r["operation"], r["result"]) for r in rows], [("config", "succeeded")])
        self.assertEqual(rows, self.history("desk"))

    def test_server_stopped_during_a_run_keeps_the_record_and_sends_it_once(self):
        env = self.env("bench")
        self.terminal = t = Terminal(
            [ARGS.velmora, "run", "wait", "--plugin", ARGS.fake, "--ledger",
             self.server.url(SECRET)], env)
        t.expect("=== Velmora - Summary ===")
        t.expect("> ")
        t.type("")
        t.expect("Waiting for Ctrl-C...")
        self.server.stop()
        self.running = False
        t.ctrl_c()
        t.expect("was lost")
        t.expect("is kept in the local database")
        self.assertEqual(t.finish(), 2, t.text)
        self.assertNotIn(SECRET, t.text)
        local = self.history("bench")
        self.assertEqual([(r["operation"], r["result"]) for r in local], [("endless wait", "cancelled")])

        self.server.start()
        self.running = True
        # At most the begun state reached the server before it stopped (it is written while
        # the run starts, and this run never waits on it: it sends nothing to a device).
        self.assertIn([r["result"] for r in self.ledger()], ([], ["interrupted"]))

        code, out, err = self.run_config("bench", "KV70-B")
        self.assertEqual(code, 0, out + err)
        self.assertIn("Sent 1 record kept in the local database to the ledger", out)
        self.assertIn("postgresql://postgres:****@", out)
        self.assertNotIn(SECRET, out + err)
        rows = self.ledger()
        self.assertEqual([(r["id"], r["result"]) for r in rows], [(1, "cancelled"), (2, "succeeded")])

        # Nothing is sent twice.
        code, out, err = self.run_config("bench", "KV70-B")
        self.assertEqual(code, 0, out + err)
        self.assertNotIn("Sent", out)
        rows = self.ledger()
        self.assertEqual([(r["id"], r["result"]) for r in rows],
                         [(1, "cancelled"), (2, "succeeded"), (3, "succeeded")])

    def test_unreachable_server_at_the_start_refuses_the_run_before_the_port(self):
        self.server.stop()
        self.running = False
        trace = os.path.join(self.dir, "trace.txt")
        for how in ("option", "variable"):
            args = ["run", "config", "--device", "sim:serial=KV70-X", "--trace", trace, "--json"]
            extra = {}
            if how == "option":
                args += ["--ledger", self.server.url(SECRET)]
            else:
                extra["VELMORA_LEDGER"] = self.server.url(SECRET)
            code, out, err = self.velmora("bench", *args, extra_env=extra)
            self.assertEqual(code, 1, out + err)
            self.assertIn("cannot be reached", err)
            self.assertIn("the run is refused", err)
            self.assertIn("postgresql://postgres:****@", err)
            self.assertNotIn(SECRET, out + err)
            result = json.loads(out.splitlines()[-1])
            self.assertEqual((result["event"], result["exit"]), ("result", 1))
            # The port was never opened: no trace was even begun, no record written.
            self.assertFalse(os.path.exists(trace))
            self.assertEqual(self.history("bench"), [])
        code, out, err = self.velmora("reader", "history", "--ledger", self.server.url(SECRET))
        self.assertEqual(code, 1, out + err)
        self.assertNotIn(SECRET, out + err)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--velmora", required=True)
    parser.add_argument("--fake", required=True)
    ARGS, rest = parser.parse_known_args()
    outcome = unittest.main(argv=[sys.argv[0]] + rest, exit=False).result
    if not outcome.wasSuccessful():
        sys.exit(1)
    # All skipped: CTest shows it as skipped, not passed.
    sys.exit(77 if outcome.testsRun and len(outcome.skipped) == outcome.testsRun else 0)


if __name__ == "__main__":
    main()
