#!/usr/bin/python3
"""How one `qeln-cli serve` copes with a fleet: figures, printed, not judged.

One serve process polls N controllers of `qeln-sim --fleet N` (5 % dead, 5 % answering 500 ms
late) over loopback TCP at a fixed interval for a while. Printed:
  - serve's CPU share of one core and its peak resident memory (from /proc);
  - how late each poll starts against its slot, p50 and p99, taken from the simulator's
    request log (the time each request reached the controller), not from the exporter: a
    controller's slots lie on one grid (offset + k × interval), whose phase is taken as the
    earliest arrival seen for that controller;
  - the time of one scrape of /metrics (median and max of 20);
  - the most sockets serve held at a scrape (its listening socket and scrape included), which
    says what the connection mode costs the controllers: one each when kept, only those being
    polled when a connection is made per poll.
Both connection modes are measured, one after the other, each with a fresh simulator and serve
(--connection per_poll or persistent for one of them).
Goals from the issue: under 10 % of one core, under 250 MB, p99 lateness under 50 ms,
a scrape under 250 ms.

Measured on a 2-core loopback test machine, 1000 controllers at 10 s for 180 s each:
                      per_poll               persistent
  CPU                 4.6 % of one core      3.4 %
  peak memory         89 MB                  100 MB
  poll lateness       p50 0.8, p99 5.2 ms    p50 0.9, p99 4.5 ms
  one scrape          median 101, max 149 ms median 79, max 126 ms
  sockets held        at most 17             at most 967
A connection per poll costs about a third more CPU (a connect and a close per poll) and holds
a controller's client slot only while it is read.

serve watches its connections with epoll; run the script under QELN_DISPATCHER=qt to measure it
on Qt's own event loop instead, for comparison.

Usage: scripts/fleet-bench.py [--controllers 1000] [--seconds 180] [--interval 10] [--build build]
                              [--connection per_poll|persistent|both]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def proc_times(pid):
    """(user + system CPU seconds, peak resident MB) of a process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    cpu = (int(fields[11]) + int(fields[12])) / ticks
    peak = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                peak = int(line.split()[1]) / 1024
    return cpu, peak


def sockets(pid):
    """How many sockets a process holds now."""
    fd_dir = "/proc/%d/fd" % pid
    count = 0
    for name in os.listdir(fd_dir):
        try:
            count += os.readlink(os.path.join(fd_dir, name)).startswith("socket:")
        except OSError:
            pass  # closed while we looked
    return count


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--controllers", type=int, default=1000)
    parser.add_argument("--seconds", type=int, default=180)
    parser.add_argument("--interval", type=int, default=10, help="poll interval in seconds")
    parser.add_argument("--build", default="build")
    parser.add_argument("--connection", choices=("per_poll", "persistent", "both"), default="both")
    args = parser.parse_args()
    for mode in ("per_poll", "persistent") if args.connection == "both" else (args.connection,):
        run(args, mode)


def run(args, mode):
    cli = os.path.join(args.build, "cli", "qeln-cli")
    sim = os.path.join(args.build, "sim", "qeln-sim")
    n = args.controllers
    dead = slow = max(1, n // 20)
    work = tempfile.TemporaryDirectory()
    log = os.path.join(work.name, "requests.log")

    fleet = subprocess.Popen([sim, "--fleet", str(n), "--fleet-dead", str(dead), "--fleet-slow", "%d:500" % slow,
                              "--request-log", log], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    links = [fleet.stdout.readline().split()[1] for _ in range(n)]
    port = free_port()
    config = os.path.join(work.name, "fleet.yml")
    with open(config, "w") as f:
        f.write("listen: 127.0.0.1:%d\ndefaults: {interval: %ds, timeout: %dms, connection: %s}\ncontrollers:\n"
                % (port, args.interval, min(2000, args.interval * 500), mode))
        for i, link in enumerate(links):
            f.write("  - name: site-%04d\n    link: tcp:%s\n" % (i, link))
    serve = subprocess.Popen([cli, "serve", "--config", config], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    serve.stdout.readline()
    started = time.monotonic()
    cpu0, _ = proc_times(serve.pid)

    # Scrapes while it runs, spread over the run.
    scrapes = []
    held = 0
    url = "http://127.0.0.1:%d/metrics" % port
    while time.monotonic() - started < args.seconds:
        time.sleep(args.seconds / 25)
        t = time.monotonic()
        with urllib.request.urlopen(url, timeout=30) as r:
            body = r.read()
        scrapes.append(time.monotonic() - t)
        held = max(held, sockets(serve.pid))
    elapsed = time.monotonic() - started
    cpu1, peak = proc_times(serve.pid)
    up = sum(1 for line in body.decode().splitlines() if line.startswith("qeln_up{") and line.endswith(" 1"))
    serve.terminate()
    serve.wait(60)
    fleet.terminate()
    fleet.wait(60)

    # Lateness per controller against its own grid, from the controller side.
    interval_ms = args.interval * 1000
    arrivals = {}
    with open(log) as f:
        for line in f:
            if line.startswith("#"):
                continue
            t, index, _ = line.split()
            arrivals.setdefault(int(index), []).append(float(t))
    late = []
    for times in arrivals.values():
        # Each arrival's place on the controller's grid, as a signed distance from the first
        # one's, then from the earliest of them: the slot's start as this controller sees it.
        half = interval_ms / 2
        shifted = [((t - times[0] + half) % interval_ms) - half for t in times]
        earliest = min(shifted)
        late.extend(x - earliest for x in shifted)

    print("serve with %d controllers (%d dead, %d slow) at %d s, connection %s, for %.0f s:"
          % (n, dead, slow, args.interval, mode, elapsed))
    print("  CPU               %.1f %% of one core   (goal < 10 %%)" % (100 * (cpu1 - cpu0) / elapsed))
    print("  peak memory       %.0f MB               (goal < 250 MB)" % peak)
    print("  poll lateness     p50 %.1f ms, p99 %.1f ms over %d polls   (goal p99 < 50 ms)"
          % (percentile(late, 50), percentile(late, 99), len(late)))
    print("  one scrape        median %.0f ms, max %.0f ms over %d   (goal < 250 ms)"
          % (1000 * statistics.median(scrapes), 1000 * max(scrapes), len(scrapes)))
    print("  sockets held      at most %d at a scrape" % held)
    print("  controllers up at the last scrape: %d" % up)
    sys.stdout.flush()


if __name__ == "__main__":
    sys.exit(main())
