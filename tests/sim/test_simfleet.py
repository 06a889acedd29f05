"""qeln-sim --fleet as a user runs it: one line per controller, the ports they take, the
request log written at exit, the refusals. Run from test_sim.py, which sets SIM and
RUNTIME_DIR; the in-process checks of each controller are in tst_simfleet."""

import os
import re
import select
import signal
import socket
import subprocess
import tempfile
import time
import unittest

SIM = None
RUNTIME_DIR = None


def tcp_frame(tid, function, data=b"", unit=1):
    return tid.to_bytes(2, "big") + b"\0\0" + (len(data) + 2).to_bytes(2, "big") + bytes([unit, function]) + data


def status_read(tid):
    return tcp_frame(tid, 0x04, (1).to_bytes(2, "big") + (131).to_bytes(2, "big"))


class Fleet:
    """One qeln-sim --fleet process; ports holds each controller's, in index order."""

    def __init__(self, testcase, count, *options):
        self.errfile = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([SIM, "--fleet", str(count), *options], stdout=subprocess.PIPE,
                                     stderr=self.errfile, stdin=subprocess.DEVNULL,
                                     env=dict(os.environ, XDG_RUNTIME_DIR=RUNTIME_DIR))
        testcase.addCleanup(self.stop)
        self.lines = self.read_lines(count)
        self.ports = [int(line.rsplit(":", 1)[1]) for line in self.lines]

    def read_lines(self, count, timeout=30):
        buffer = b""
        deadline = time.monotonic() + timeout
        while buffer.count(b"\n") < count:
            left = deadline - time.monotonic()
            chunk = b""
            if left > 0 and select.select([self.proc.stdout], [], [], left)[0]:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                return buffer.decode().splitlines()
            buffer += chunk
        return buffer.decode().splitlines()

    def stderr(self):
        self.errfile.seek(0)
        return self.errfile.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        return self.proc.returncode


def ask(port, frame, timeout=2.0):
    """The answer to one request, or b"" when none comes within the timeout."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
        sock.sendall(frame)
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < 6 or len(data) < 6 + int.from_bytes(data[4:6], "big"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([sock], [], [], left)[0]:
                break
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
        return data


class FleetProcessTest(unittest.TestCase):
    def test_lines_in_index_order_and_ports(self):
        fleet = Fleet(self, 5)
        self.assertEqual(len(fleet.lines), 5, fleet.stderr())
        for line in fleet.lines:
            self.assertRegex(line, r"^tcp 127\.0\.0\.1:\d+$")
        self.assertEqual(len(set(fleet.ports)), 5)
        for i, port in enumerate(fleet.ports):
            with self.subTest(controller=i):
                self.assertEqual(len(ask(port, status_read(i))), 9 + 2 * 131)
        self.assertEqual(fleet.stop(), 0, fleet.stderr())

    def test_consecutive_ports_from_tcp_port(self):
        # A first port with three free ones after it; another run takes them in between rarely,
        # and then the start is refused with exit 1: try a few.
        for attempt in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                first = probe.getsockname()[1]
            if first + 3 > 65535:
                continue
            fleet = Fleet(self, 4, "--tcp-port", str(first))
            if len(fleet.lines) == 4:
                self.assertEqual(fleet.ports, [first, first + 1, first + 2, first + 3])
                return
            self.assertEqual(fleet.stop(), 1, fleet.stderr())
            self.assertIn(b"cannot listen on", fleet.stderr())
        self.fail("no four free ports in a row")

    def test_request_log_written_at_exit(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "requests.log")
            fleet = Fleet(self, 3, "--fleet-dead", "1", "--request-log", path)
            self.assertEqual(len(ask(fleet.ports[0], status_read(1))), 271)
            self.assertEqual(len(ask(fleet.ports[1], status_read(2))), 271)
            self.assertEqual(len(ask(fleet.ports[1], tcp_frame(3, 0x06, bytes([0, 86, 0, 7])))), 12)
            self.assertEqual(ask(fleet.ports[2], status_read(4), timeout=0.3), b"")
            self.assertEqual(fleet.stop(), 0, fleet.stderr())
            with open(path) as log:
                lines = log.read().splitlines()
        self.assertRegex(lines[0], r"^# qeln-sim request log; start \d+\.\d{3} ms Unix time; ms index function$")
        for line in lines[1:]:
            self.assertRegex(line, r"^\d+\.\d{3} \d+ \d+$")
        self.assertEqual([line.split(" ", 1)[1] for line in lines[1:]], ["0 4", "1 4", "1 6", "2 4"])

    def test_single_controller_request_log(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "requests.log")
            proc = subprocess.Popen([SIM, "--tcp-port", "0", "--request-log", path], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            try:
                line = proc.stdout.readline().decode()
                port = int(re.match(r"^tcp 127\.0\.0\.1:(\d+)$", line).group(1))
                self.assertEqual(len(ask(port, status_read(9))), 271)
            finally:
                proc.send_signal(signal.SIGTERM)
                out, err = proc.communicate(timeout=10)
            self.assertEqual(proc.returncode, 0, err)
            self.assertEqual(out, b"")
            with open(path) as log:
                self.assertEqual([line.split(" ", 1)[1] for line in log.read().splitlines()[1:]], ["0 4"])

    def test_refused_start(self):
        with tempfile.NamedTemporaryFile(prefix="qeln-kept-") as kept:
            kept.write(b"kept\n")
            kept.flush()
            cases = [
                ("fleet 0", ["--fleet", "0"], 2, b"--fleet '0'"),
                ("fleet with pty", ["--fleet", "2", "--pty"], 2, b"leave out --pty"),
                ("dead and slow past fleet", ["--fleet", "2", "--fleet-dead", "1", "--fleet-slow", "2:5"], 2,
                 b"more than the fleet's 2"),
                ("bad slow", ["--fleet", "2", "--fleet-slow", "1:"], 2, b"--fleet-slow '1:'"),
                ("request log exists", ["--fleet", "2", "--request-log", kept.name], 1, b"never overwritten"),
            ]
            for name, args, code, message in cases:
                with self.subTest(name):
                    proc = subprocess.run([SIM, *args], capture_output=True, timeout=10, stdin=subprocess.DEVNULL)
                    self.assertEqual(proc.returncode, code, proc.stderr)
                    self.assertEqual(proc.stdout, b"")
                    self.assertIn(message, proc.stderr)
            with open(kept.name, "rb") as again:
                self.assertEqual(again.read(), b"kept\n")
