"""Dumps over RFC 2217 on loopback at real line speed: velmora against kv70sim
--rfc2217 (no speed-up), one device and then six at once. Each run is measured over a
window of the dump's read phase (WINDOW_S seconds from the first block read): the read
requests' time against the line's floor (every byte of them, both ways, at 10 bits a
byte at 38400 bit/s), and velmora's CPU time over the window. The dumps are then
stopped: the tests check that they finish and what they bring. Prints ROW| lines for
run-bench.sh.
    rfc2217_bench.py VELMORA KV70SIM WORKDIR [WINDOW_S]"""
import os
import signal
import subprocess
import sys
import tempfile
import time

RATIO_LIMIT = 1.02
CPU_LIMIT_PERCENT = 3.0   # of one core, all six clients together
LINE_BYTES_PER_S = 3840.0
WINDOW_S = 35.0
START_LIMIT_S = 180.0     # connection sequence and monitor load, with a wide margin
BLOCK = 1000              # a reply this long is a block of the dump


def exchanges(trace):
    """[request ms, request bytes, reply bytes] of every request in the trace."""
    found = []
    with open(trace) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 3 or parts[1] not in (">", "<"):
                continue
            ms, n = int(parts[0]), len(parts) - 2
            if parts[1] == ">":
                found.append([ms, n, 0])
            elif found:
                found[-1][2] += n
    return found


def reading(trace):
    try:
        return any(e[2] >= BLOCK for e in exchanges(trace))
    except FileNotFoundError:
        return False


def read_phase(trace):
    """(seconds, bytes) of the block requests the trace holds whole: from the first one
    to the request that follows the last whole one, every byte between."""
    found = exchanges(trace)
    big = [i for i, e in enumerate(found) if e[2] >= BLOCK]
    # The last block may have been cut off by the stop; the one before it ended when the
    # request after it went out.
    if len(big) < 3:
        return 0.0, 0
    chosen = found[big[0]:big[-2] + 1]
    end = found[big[-2] + 1][0]
    return (end - chosen[0][0]) / 1000.0, sum(e[1] + e[2] for e in chosen)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def start_sim(kv70sim, work, n):
    sim = subprocess.Popen([kv70sim, "--rfc2217", "0", "fs-mb=1"], stdout=subprocess.PIPE,
                           stderr=open(os.path.join(work, "sim-%d.err" % n), "w"), text=True)
    return sim, sim.stdout.readline().strip()


def run_dumps(velmora, kv70sim, work, count, window):
    """Per device: (failure text or None, CPU s in the window, read seconds, read bytes),
    and the window's length."""
    env = dict(os.environ, HOME=work, VELMORA_REGISTRY=os.path.join(work, "registry.db"))
    sims = [start_sim(kv70sim, work, n) for n in range(1, count + 1)]
    clients, traces = [], []
    for n, (_, address) in enumerate(sims, 1):
        trace = os.path.join(work, "dump-%d-of-%d.trace" % (n, count))
        log = os.path.join(work, "fs-%d-of-%d.log" % (n, count))
        for stale in (trace, log):
            if os.path.exists(stale):
                os.remove(stale)
        argv = [velmora, "run", "dump", "--port", str(n), "--device", "rfc2217://" + address, "--log-file", log,
                "--trace", trace]
        clients.append(subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=env))
        traces.append(trace)
    failures = [None] * count
    try:
        # The window opens when every dump reads blocks.
        limit = time.monotonic() + START_LIMIT_S
        while time.monotonic() < limit and not all(reading(t) for t in traces):
            if any(c.poll() is not None for c in clients):
                break
            time.sleep(0.25)
        for n, c in enumerate(clients):
            if c.poll() is not None:
                failures[n] = "ended early, exit status %d" % c.returncode
            elif not reading(traces[n]):
                failures[n] = "no block read within %.0f s" % START_LIMIT_S
        if any(failures):
            return [(f or "stopped with the others", 0.0, 0.0, 0) for f in failures], 0.0
        start = time.monotonic()
        before = [cpu_seconds(c.pid) for c in clients]
        time.sleep(window)
        after = [cpu_seconds(c.pid) for c in clients]
        length = time.monotonic() - start
        for n, c in enumerate(clients):
            if c.poll() is not None:
                failures[n] = "ended within the window, exit status %d" % c.returncode
    finally:
        for c in clients:
            if c.poll() is None:
                c.send_signal(signal.SIGKILL)
            c.wait()
        for sim, _ in sims:
            sim.terminate()
            sim.wait()
    results = []
    for n in range(count):
        seconds, nbytes = read_phase(traces[n])
        results.append((failures[n], after[n] - before[n], seconds, nbytes))
    return results, length


def main():
    velmora, kv70sim = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="rfc2217-bench-", dir=sys.argv[3] if len(sys.argv) > 3 else None)
    window = float(sys.argv[4]) if len(sys.argv) > 4 else WINDOW_S
    failed = False
    for count in (1, 6):
        results, length = run_dumps(velmora, kv70sim, work, count, window)
        total_cpu = 0.0
        whole = True
        for n, (failure, cpu, seconds, nbytes) in enumerate(results, 1):
            if failure or seconds == 0:
                print("ROW|failed|rfc2217 dump %d of %d|%s||||FAIL" % (n, count, failure or "no blocks read"))
                failed = True
                whole = False
                continue
            floor = nbytes / LINE_BYTES_PER_S
            ratio = seconds / floor
            total_cpu += cpu
            what = "RFC 2217 loopback dump, block reads" + ("" if count == 1 else " (%d of 6 at once)" % n)
            print("ROW|network|%s|%.2f s (%.0f B/s)|%.2f s (%d bytes)|%.4f|<= %.2f|%s" % (
                what, seconds, nbytes / seconds, floor, nbytes, ratio, RATIO_LIMIT,
                "ok" if ratio <= RATIO_LIMIT else "OVER"))
            failed |= ratio > RATIO_LIMIT
        if not whole or length == 0:
            continue
        percent = total_cpu / length * 100
        if count == 1:
            print("ROW|network|RFC 2217 dump, velmora CPU|%.1f s CPU per device-hour (%.2f%% of one core)|"
                  "%.3f s CPU over %.1f s|||ok" % (total_cpu / length * 3600, percent, total_cpu, length))
        else:
            print("ROW|network|six RFC 2217 dumps at once, velmora CPU|%.2f%% of one core (%.1f s per device-hour "
                  "each)|%.3f s CPU over %.1f s|%.2f|<= %.1f|%s" % (
                      percent, total_cpu / length * 3600 / count, total_cpu, length, percent, CPU_LIMIT_PERCENT,
                      "ok" if percent <= CPU_LIMIT_PERCENT else "OVER"))
            failed |= percent > CPU_LIMIT_PERCENT
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
