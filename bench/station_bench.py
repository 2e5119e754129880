"""A station of 32 slots dumping at real line speed: velmora station against 32 kv70sim
--rfc2217 servers on the loopback address (no speed-up). Over a window of the dumps' read
phase (WINDOW_S seconds once every slot reads blocks) it measures the CPU time of the
station and all its children together, and each slot's block reads against the line's
floor (every byte of them, both ways, 10 bits a byte at 38400 bit/s), from the slots'
wire traces. The station is then cancelled (Ctrl-C) and must end with status 2. Prints
ROW| lines for run-bench.sh.
    station_bench.py VELMORA KV70SIM WORKDIR [WINDOW_S] [SLOTS]"""
import glob
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rfc2217_bench import cpu_seconds, read_phase, reading, start_sim, LINE_BYTES_PER_S  # noqa: E402

RATIO_LIMIT = 1.02
CPU_LIMIT_PERCENT = 5.0  # of one core: the station and its 32 children together
WINDOW_S = 60.0
SLOTS = 32
START_LIMIT_S = 240.0


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def family_cpu(pid, kids):
    total = 0.0
    for p in [pid] + kids:
        try:
            total += cpu_seconds(p)
        except OSError:
            pass
    return total


def main():
    velmora, kv70sim = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="station-bench-", dir=sys.argv[3] if len(sys.argv) > 3 else None)
    window = float(sys.argv[4]) if len(sys.argv) > 4 else WINDOW_S
    count = int(sys.argv[5]) if len(sys.argv) > 5 else SLOTS
    env = dict(os.environ, HOME=work, VELMORA_REGISTRY=os.path.join(work, "registry.db"))
    sims = [start_sim(kv70sim, work, n) for n in range(1, count + 1)]
    traces = os.path.join(work, "traces")
    logs = os.path.join(work, "logs")
    os.mkdir(traces)
    os.mkdir(logs)
    argv = [velmora, "station", "dump", "--log-dir", logs, "--trace-dir", traces, "--give-up-after", "0"]
    for _, address in sims:
        argv += ["--slot", "rfc2217://" + address]
    station = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=open(os.path.join(work, "station.out"), "w"),
                               stderr=subprocess.STDOUT, env=env)
    failed = False
    try:
        limit = time.monotonic() + START_LIMIT_S
        files = []
        while time.monotonic() < limit and station.poll() is None:
            files = sorted(glob.glob(os.path.join(traces, "*.trace")))
            if len(files) == count and all(reading(t) for t in files):
                break
            time.sleep(0.5)
        if station.poll() is not None or len(files) != count or not all(reading(t) for t in files):
            print("ROW|failed|station of %d: the dumps did not all read blocks within %.0f s|||||FAIL"
                  % (count, START_LIMIT_S))
            return 1
        kids = children(station.pid)
        start = time.monotonic()
        before = family_cpu(station.pid, kids)
        time.sleep(window)
        after = family_cpu(station.pid, kids)
        length = time.monotonic() - start
        station_only = cpu_seconds(station.pid)
        ended = station.poll() is not None
        station.send_signal(signal.SIGINT)
        status = station.wait(timeout=120)
    finally:
        if station.poll() is None:
            station.kill()
            station.wait()
        for sim, _ in sims:
            sim.terminate()
            sim.wait()
    if ended or status != 2:
        print("ROW|failed|station of %d: ended within the window, or not cancelled (status %d)|||||FAIL"
              % (count, status))
        failed = True
    ratios = []
    for trace in files:
        seconds, nbytes = read_phase(trace)
        if seconds == 0:
            print("ROW|failed|station slot trace %s: no blocks read|||||FAIL" % os.path.basename(trace))
            failed = True
            continue
        ratios.append((seconds / (nbytes / LINE_BYTES_PER_S), seconds, nbytes))
    if ratios:
        worst = max(ratios)
        mean = sum(r[0] for r in ratios) / len(ratios)
        print("ROW|station|%d slots at once, block reads (worst slot)|%.2f s (%d bytes)|floor %.2f s; mean ratio %.4f|"
              "%.4f|<= %.2f|%s" % (count, worst[1], worst[2], worst[2] / LINE_BYTES_PER_S, mean, worst[0],
                                   RATIO_LIMIT, "ok" if worst[0] <= RATIO_LIMIT else "OVER"))
        failed |= worst[0] > RATIO_LIMIT
    percent = (after - before) / length * 100
    print("ROW|station|%d slots at once, station + children CPU|%.2f%% of one core|%.2f s CPU over %.1f s "
          "(station itself %.2f s since start)|%.2f|<= %.1f|%s" % (
              count, percent, after - before, length, station_only, percent, CPU_LIMIT_PERCENT,
              "ok" if percent <= CPU_LIMIT_PERCENT else "OVER"))
    failed |= percent > CPU_LIMIT_PERCENT
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
