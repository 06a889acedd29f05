#!/usr/bin/python3
"""CPU share and resident memory of qeln-console in demo mode under a virtual display.

Runs three consoles side by side on one Xvfb server, so that the machine's noise hits all of
them alike, and measures each over the same window:
  idle       the window shown, not connected (animation and reminder timers only)
  connected  logged in and connected to the in-process simulator over TCP, polling
  log-5000   connected, with the data log running and its page holding about 5000 lines

Usage: scripts/console-load.py [--seconds 60] [--console build/ui/qeln-console]
Prints one line per console: CPU share of one core over the window and VmRSS at its end.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the line, 12 and 13 after the command name.
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def start_xvfb():
    if not shutil.which("Xvfb"):
        sys.exit("console-load: Xvfb is missing (apt-get install xvfb)")
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as f:
        display = f.readline().strip()
    if not display:
        server.kill()
        sys.exit("console-load: Xvfb did not start")
    return server, ":" + display


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--console", default="build/ui/qeln-console")
    parser.add_argument("--settle", type=int, default=8, help="seconds before the window opens")
    args = parser.parse_args()

    server, display = start_xvfb()
    out_dir = tempfile.mkdtemp(prefix="qeln-load-")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="qeln-xdg-"))
    quit_after = str(args.seconds + args.settle + 30)
    # The log fills to just under the 5000-line save, so no file is written in the window.
    runs = {
        "idle": [args.console, "--demo"],
        "connected": [args.console, "--demo", "--auto-connect", "--quit-after", quit_after],
        "log-5000": [args.console, "--demo", "--auto-connect", "--quit-after", quit_after,
                     "--fill-log", "4960", "--output-dir", out_dir],
    }
    procs = {}
    try:
        for name, cmd in runs.items():
            procs[name] = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        time.sleep(args.settle)
        for name, p in procs.items():
            if p.poll() is not None:
                sys.exit(f"console-load: {name} ended early: {p.stderr.read()}")
        start = {name: cpu_seconds(p.pid) for name, p in procs.items()}
        t0 = time.monotonic()
        time.sleep(args.seconds)
        elapsed = time.monotonic() - t0
        figures = {name: ((cpu_seconds(p.pid) - start[name]) / elapsed * 100, rss_mib(p.pid)) for name, p in procs.items()}
    finally:
        for p in procs.values():
            p.terminate()
        for p in procs.values():
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        server.terminate()
        shutil.rmtree(out_dir, ignore_errors=True)

    print(f"qeln-console under Xvfb, {elapsed:.0f} s window, three consoles side by side")
    print(f"{'run':<10} {'CPU % of one core':>18} {'resident MiB':>13}")
    for name, (cpu, rss) in figures.items():
        print(f"{name:<10} {cpu:>18.2f} {rss:>13.1f}")
    idle_cpu = figures["idle"][0]
    for name in ("connected", "log-5000"):
        ratio = figures[name][0] / idle_cpu if idle_cpu > 0 else float("inf")
        print(f"{name} / idle CPU: {ratio:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
