"""Dumps over RFC 2217 on loopback at real line speed: velmora against kv70sim
--rfc2217 (no speed-up), one device and then six at once. Prints ROW| lines for
run-bench.sh: the read phase's time against the line's floor (every byte of it, both
ways, at 10 bits a byte at 38400 bit/s), and velmora's CPU time per device-hour.
    rfc2217_bench.py VELMORA KV70SIM WORKDIR"""
import os
import subprocess
import sys
import tempfile

RATIO_LIMIT = 1.02
CPU_LIMIT_PERCENT = 3.0   # of one core, all six clients together
LINE_BYTES_PER_S = 3840.0


def read_phase(trace):
    """(seconds, bytes) of the dump's read requests: from the first request answered with a
    block (1000 bytes or more) to the end of the last such answer, every byte between."""
    exchanges = []   # [request ms, request bytes, reply bytes, last reply ms]
    with open(trace) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 3 or parts[1] not in (">", "<"):
                continue
            ms, n = int(parts[0]), len(parts) - 2
            if parts[1] == ">":
                exchanges.append([ms, n, 0, ms])
            elif exchanges:
                exchanges[-1][2] += n
                exchanges[-1][3] = ms
    big = [i for i, e in enumerate(exchanges) if e[2] >= 1000]
    if not big:
        return 0.0, 0
    chosen = exchanges[big[0]:big[-1] + 1]
    return (chosen[-1][3] - chosen[0][0]) / 1000.0, sum(e[1] + e[2] for e in chosen)


def start_sim(kv70sim, work, n):
    sim = subprocess.Popen([kv70sim, "--rfc2217", "0", "fs-mb=1"], stdout=subprocess.PIPE,
                           stderr=open(os.path.join(work, "sim-%d.err" % n), "w"), text=True)
    return sim, sim.stdout.readline().strip()


def run_dumps(velmora, kv70sim, work, count):
    env = dict(os.environ, HOME=work, VELMORA_REGISTRY=os.path.join(work, "registry.db"))
    sims = [start_sim(kv70sim, work, n) for n in range(1, count + 1)]
    clients = []
    for n, (_, address) in enumerate(sims, 1):
        argv = [velmora, "run", "dump", "--port", str(n), "--device", "rfc2217://" + address, "--log-file",
                os.path.join(work, "fs-%d.log" % n), "--trace", os.path.join(work, "dump-%d.trace" % n)]
        clients.append(subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=env))
    results = []
    for n, proc in enumerate(clients, 1):
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = status
        seconds, nbytes = read_phase(os.path.join(work, "dump-%d.trace" % n))
        results.append((status, usage.ru_utime + usage.ru_stime, seconds, nbytes))
    for sim, _ in sims:
        sim.terminate()
        sim.wait()
    return results


def main():
    velmora, kv70sim = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="rfc2217-bench-", dir=sys.argv[3] if len(sys.argv) > 3 else None)
    failed = False
    for count in (1, 6):
        results = run_dumps(velmora, kv70sim, work, count)
        total_cpu = 0.0
        longest = 0.0
        for n, (status, cpu, seconds, nbytes) in enumerate(results, 1):
            if status != 0 or seconds == 0:
                print("ROW|failed|rfc2217 dump %d of %d|exit status %d|||FAIL" % (n, count, status))
                failed = True
                continue
            floor = nbytes * 10 / 38400.0
            ratio = seconds / floor
            total_cpu += cpu
            longest = max(longest, seconds)
            what = "RFC 2217 loopback dump 1 MiB, read requests" + ("" if count == 1 else " (%d of 6 at once)" % n)
            print("ROW|network|%s|%.2f s (%.0f B/s)|%.2f s (%d bytes)|%.4f|<= %.2f|%s" % (
                what, seconds, nbytes / seconds, floor, nbytes, ratio, RATIO_LIMIT,
                "ok" if ratio <= RATIO_LIMIT else "OVER"))
            failed |= ratio > RATIO_LIMIT
        if longest > 0:
            hours = longest / 3600.0
            if count == 1:
                print("ROW|network|RFC 2217 dump, velmora CPU|%.2f s CPU per device-hour|%.3f s CPU over %.1f s|||ok"
                      % (total_cpu / hours, total_cpu, longest))
            else:
                percent = total_cpu / longest * 100
                print("ROW|network|six RFC 2217 dumps at once, velmora CPU|%.2f%% of one core|%.3f s CPU over %.1f s|"
                      "%.2f|<= %.1f|%s" % (percent, total_cpu, longest, percent, CPU_LIMIT_PERCENT,
                                           "ok" if percent <= CPU_LIMIT_PERCENT else "OVER"))
                failed |= percent > CPU_LIMIT_PERCENT
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
