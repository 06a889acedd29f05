#!/usr/bin/python3
"""How fast qeln-sim answers, and what it costs while idle.

    /usr/bin/python3 scripts/sim-throughput.py [--sim build/sim/qeln-sim] [--seconds 3] [--idle 10]

One client at a time asks and waits for each answer, as the console does (one request in
flight): the status read of 131 registers and a single-register write, on TCP loopback and on
the simulator's pseudo-terminal without pacing. Then the simulator is left alone and its CPU
time is read from /proc/PID/stat.
"""

import argparse
import os
import select
import socket
import subprocess
import sys
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SIM = os.path.join(HERE, "..", "build", "sim", "qeln-sim")

TCP_STATUS = bytes.fromhex("000100000006010400010083")
TCP_WRITE = bytes.fromhex("000100000006010600500001")
SERIAL_STATUS = b":01040001008377\r\n"
SERIAL_WRITE = b":010600500001A8\r\n"


def start_sim(sim):
    proc = subprocess.Popen([sim, "--tcp-port", "0", "--pty"], stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)
    lines = [proc.stdout.readline().decode().split() for _ in range(2)]
    where = dict(lines)
    return proc, int(where["tcp"].rsplit(":", 1)[1]), where["serial"]


def rate(ask, seconds):
    """Requests answered per second, one at a time."""
    count = 0
    start = time.monotonic()
    end = start + seconds
    while time.monotonic() < end:
        ask()
        count += 1
    return count / (time.monotonic() - start)


def tcp_asker(port, request, answer_length):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def ask():
        sock.sendall(request)
        got = 0
        while got < answer_length:
            chunk = sock.recv(65536)
            if not chunk:
                raise SystemExit("the simulator closed the connection")
            got += len(chunk)
    return ask, sock.close


def serial_asker(path, request):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)

    def ask():
        os.write(fd, request)
        data = b""
        while not data.endswith(b"\n"):
            if not select.select([fd], [], [], 2)[0]:
                raise SystemExit("no answer on the pseudo-terminal")
            data += os.read(fd, 65536)
    return ask, lambda: os.close(fd)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the line, 12 and 13 after the command name.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sim", default=os.environ.get("QELN_SIM", DEFAULT_SIM))
    parser.add_argument("--seconds", type=float, default=3.0, help="length of each rate run")
    parser.add_argument("--idle", type=float, default=10.0, help="length of the idle measurement")
    args = parser.parse_args()

    proc, port, pty = start_sim(os.path.abspath(args.sim))
    try:
        runs = [
            ("tcp    status read (271 bytes)", tcp_asker(port, TCP_STATUS, 271)),
            ("tcp    register write (12 bytes)", tcp_asker(port, TCP_WRITE, 12)),
            ("serial status read (537 chars)", serial_asker(pty, SERIAL_STATUS)),
            ("serial register write (17 chars)", serial_asker(pty, SERIAL_WRITE)),
        ]
        for name, (ask, close) in runs:
            ask()  # the first answer includes setting up the connection
            print("%-34s %8.0f requests/s" % (name, rate(ask, args.seconds)), flush=True)
            close()

        time.sleep(1.0)
        before = cpu_seconds(proc.pid)
        start = time.monotonic()
        time.sleep(args.idle)
        used = cpu_seconds(proc.pid) - before
        span = time.monotonic() - start
        print("idle CPU over %.0f s: %.2f s of CPU time, %.2f %% of one core"
              % (span, used, 100 * used / span), flush=True)
    finally:
        proc.terminate()
        proc.wait(5)
    return 0


if __name__ == "__main__":
    sys.exit(main())
