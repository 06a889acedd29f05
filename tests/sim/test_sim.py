#!/usr/bin/python3
"""qeln-sim against independent Modbus masters and hand-written frames.

The masters are pymodbus's TCP and ASCII serial clients and mbpoll (TCP): implementations
that share nothing with the simulator and must agree with it on the standard functions. The
controller's own requests are checked with frames written out here byte by byte, with the
lengths the console reads.

    /usr/bin/python3 tests/sim/test_sim.py --sim build/sim/qeln-sim [unittest options]

The binary can also be given in QELN_SIM. The last line printed is "N passed, N failed".
"""

import argparse
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from countingresult import run_suite  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_simfleet  # noqa: E402
from test_simfleet import FleetProcessTest  # noqa: E402,F401

SIM = None
RUNTIME_DIR = None

MODEL = 2
HISTORY = 7


def lrc(data):
    return (-sum(data)) & 0xFF


def serial_frame(body):
    """":" + hex(body) + LRC + CR LF; body holds the unit, the function code and the data."""
    return b":" + (body + bytes([lrc(body)])).hex().upper().encode() + b"\r\n"


def serial_body(frame):
    """The bytes of a well-formed answer frame, LRC checked and removed."""
    assert frame.startswith(b":") and frame.endswith(b"\r\n"), frame
    text = frame[1:-2]
    assert text == text.upper(), frame
    data = bytes.fromhex(text.decode())
    assert lrc(data[:-1]) == data[-1], "bad LRC in %r" % frame
    return data[:-1]


def tcp_frame(tid, function, data=b"", unit=1):
    return tid.to_bytes(2, "big") + b"\0\0" + (len(data) + 2).to_bytes(2, "big") + bytes([unit, function]) + data


def word(value):
    return value.to_bytes(2, "big")


def ip_write_block(ip, mask, gateway, site):
    """The network block as the console writes it: marker, MAC, IP, mask, gateway, flags, IP,
    zeros, hardware description, serial number, hardware version, MAC, zeros, rectifier ID,
    zeros, site information."""
    mac = bytes([0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x07])
    desc = b"QELN test rack"
    return (b"\x12\x34\x56\x78" + mac + bytes(ip) + bytes(mask) + bytes(gateway) + bytes([0x7F])
            + bytes(ip) + bytes(4) + bytes([len(desc)]) + desc + b"2200000042; "
            + bytes([0, 0, 0, 1]) + mac + bytes(12) + bytes.fromhex("FFFFFFFE") + bytes(12)
            + bytes([len(site)]) + site)


# ---- processes and lines ------------------------------------------------------------------

class Sim:
    """One qeln-sim process; tcp_port and pty hold where it serves."""

    def __init__(self, testcase, *options, tcp=True, pty=True, history=HISTORY, env=None):
        args = [SIM, "--model", str(MODEL)]
        if history:
            args += ["--history", str(history)]
        args += ["--tcp-port", "0"] if tcp else ["--no-tcp"]
        if pty:
            args.append("--pty")
        args += list(options)
        links = int(tcp) + int(pty) + int("--serial" in options)
        self.errfile = tempfile.TemporaryFile()
        env = dict(os.environ, XDG_RUNTIME_DIR=RUNTIME_DIR, **(env or {}))
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.errfile,
                                     stdin=subprocess.DEVNULL, env=env)
        testcase.addCleanup(self.stop)
        self.lines = read_lines(self.proc, links, self.stderr)
        self.tcp_port = self.pty = None
        for line in self.lines:
            kind, where = line.split(" ", 1)
            if kind == "tcp":
                self.tcp_port = int(where.rsplit(":", 1)[1])
            elif "--serial" not in options:
                self.pty = where

    def stderr(self):
        self.errfile.seek(0)
        return self.errfile.read()

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        return self.proc.returncode


def read_lines(proc, count, stderr, timeout=10):
    lines, buffer = [], b""
    deadline = time.monotonic() + timeout
    while len(lines) < count:
        left = deadline - time.monotonic()
        ready = select.select([proc.stdout], [], [], max(left, 0))[0] if left > 0 else []
        chunk = os.read(proc.stdout.fileno(), 4096) if ready else b""
        if not chunk:
            raise AssertionError("qeln-sim did not start: %r" % stderr()[-2000:])
        buffer += chunk
        while b"\n" in buffer and len(lines) < count:
            line, buffer = buffer.split(b"\n", 1)
            lines.append(line.decode())
    return lines


def collect(read_some, wait, first_timeout, quiet=0.06):
    """Everything that arrives until the line has been quiet for `quiet` s after the first
    byte (so a trailing extra byte is caught), or b"" when nothing comes within
    first_timeout."""
    data = b""
    deadline = time.monotonic() + first_timeout
    while True:
        timeout = quiet if data else deadline - time.monotonic()
        if timeout <= 0 or not wait(timeout):
            return data
        chunk = read_some()
        if not chunk:
            return data
        data += chunk


class TcpPeer:
    def __init__(self, testcase, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        testcase.addCleanup(self.sock.close)

    def ask(self, frame, timeout=2.0):
        self.sock.sendall(frame)
        return self.receive(timeout)

    def receive(self, timeout=2.0):
        return collect(lambda: self.sock.recv(65536),
                       lambda t: bool(select.select([self.sock], [], [], t)[0]), timeout)

    def ask_upto(self, frame, size, timeout=2.0, quiet=0.05):
        """Sends a request and reads its answer: `size` bytes, or fewer when the line has
        been quiet for `quiet` s after the first byte (a cut or shorter answer)."""
        self.sock.sendall(frame)
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < size:
            wait = quiet if data else deadline - time.monotonic()
            if wait <= 0 or not select.select([self.sock], [], [], wait)[0]:
                break
            chunk = self.sock.recv(size - len(data))
            if not chunk:
                break
            data += chunk
        return data


class SerialPeer:
    """The client end of the simulator's pseudo-terminal, raw."""

    def __init__(self, testcase, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        testcase.addCleanup(os.close, self.fd)
        tty.setraw(self.fd)
        termios.tcflush(self.fd, termios.TCIOFLUSH)

    def ask(self, frame, timeout=2.0):
        os.write(self.fd, frame)
        return self.receive(timeout)

    def receive(self, timeout=2.0):
        return collect(lambda: os.read(self.fd, 65536),
                       lambda t: bool(select.select([self.fd], [], [], t)[0]), timeout)


def status_registers_tcp(peer, tid=1):
    answer = peer.ask(tcp_frame(tid, 0x04, word(1) + word(131)))
    assert len(answer) == 271, answer.hex()
    return [int.from_bytes(answer[9 + 2 * i:11 + 2 * i], "big") for i in range(131)]


def tcp_spoil_of(expected, answer, function):
    """What a spoilt TCP answer gets wrong, as a master can tell from the answer alone:
    "tid", "length", "function", "cut" or "exception"; None when it would pass for the
    expected answer or is spoilt in some other way."""
    if answer == expected[:4] + bytes([0, 3, 1, function | 0x80, 4]):
        return "exception"
    if len(answer) < len(expected):
        return "cut" if answer and expected.startswith(answer) else None
    if len(answer) != len(expected):
        return None
    changed = {i for i in range(len(answer)) if answer[i] != expected[i]}
    if changed and changed <= {0, 1}:
        return "tid"
    if changed and changed <= {4, 5} and int.from_bytes(answer[4:6], "big") <= 260:
        return "length"
    if changed == {7} and not (answer[7] ^ expected[7]) & 0x80:
        return "function"
    return None


# The history requests of both links: function codes by log (1 alarm, 2 event).
SERIAL_COUNT, SERIAL_RECORD = {1: 0x30, 2: 0x40}, {1: 0x31, 2: 0x41}
TCP_COUNT, TCP_RECORD = {1: 0x43, 2: 0x46}, {1: 0x44, 2: 0x47}
RECORD_SIZE = {1: 34, 2: 10}


class HistoryPeer:
    """Count and record requests on one link; answers come back as (code, data after the
    code) once their framing has been checked: the LRC on serial, the transaction id,
    protocol, length field and unit on TCP. An answer that is not well framed fails the
    test; no answer gives None."""

    def __init__(self, testcase, sim, link):
        self.testcase, self.link = testcase, link
        self.tid = 0
        self.peer = SerialPeer(testcase, sim.pty) if link == "serial" else TcpPeer(testcase, sim.tcp_port)

    def count(self, log, timeout=1.0):
        if self.link == "serial":
            return self.ask(bytes([SERIAL_COUNT[log]]), timeout)
        return self.ask(bytes([TCP_COUNT[log], log, 0]), timeout)

    def record(self, log, number, timeout=1.0):
        if self.link == "serial":
            return self.ask(bytes([SERIAL_RECORD[log]]) + word(number), timeout)
        return self.ask(bytes([TCP_RECORD[log], log]) + word(number), timeout)

    def send(self, pdu):
        """Sends without waiting; the answer is read with take()."""
        self.tid += 1
        frame = serial_frame(bytes([1]) + pdu) if self.link == "serial" else tcp_frame(self.tid, pdu[0], pdu[1:])
        if self.link == "serial":
            os.write(self.peer.fd, frame)
        else:
            self.peer.sock.sendall(frame)

    def take(self, timeout=1.0, tid=None):
        """One answer, cut out of the stream as a master would: up to the line end (serial),
        by its length field (TCP)."""
        if self.link == "serial":
            return self.framed(self.read_until(lambda data: data.endswith(b"\n"), timeout), tid)
        header = self.read_until(lambda data: len(data) >= 6, timeout)
        if len(header) == 6:
            length = int.from_bytes(header[4:6], "big")
            header += self.read_until(lambda data: len(data) >= length, 1.0, length)
        return self.framed(header, tid)

    def read_until(self, done, timeout, size=None):
        sock = self.peer.sock if self.link == "tcp" else None
        data = b""
        deadline = time.monotonic() + timeout
        while not done(data):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([sock or self.peer.fd], [], [], left)[0]:
                break
            want = 1 if size is None else size - len(data)
            chunk = sock.recv(want) if sock else os.read(self.peer.fd, 1)
            if not chunk:
                break
            data += chunk
        return data

    def ask(self, pdu, timeout=1.0):
        self.send(pdu)
        return self.take(timeout)

    def framed(self, answer, tid=None):
        if not answer:
            return None
        if self.link == "serial":
            data = serial_body(answer)
            self.testcase.assertEqual(data[0], 1)
            return data[1], data[2:]
        tid = self.tid if tid is None else tid
        self.testcase.assertEqual(answer[:4], tid.to_bytes(2, "big") + b"\0\0", answer.hex())
        self.testcase.assertEqual(int.from_bytes(answer[4:6], "big"), len(answer) - 6, answer.hex())
        self.testcase.assertEqual(answer[6], 1)
        return answer[7], answer[8:]

    def count_code(self, log):
        return SERIAL_COUNT[log] + 0x90 if self.link == "serial" else TCP_COUNT[log]

    def record_code(self, log):
        return SERIAL_RECORD[log] + 0x90 if self.link == "serial" else TCP_RECORD[log]

    def record_bytes(self, data):
        """The record of a record answer's data: on TCP after the byte that gives its size,
        which must agree with it."""
        if self.link == "serial":
            return data
        self.testcase.assertEqual(data[0], len(data) - 1)
        return data[1:]


# ---- standard functions against independent masters ---------------------------------------

class StandardMastersTest(unittest.TestCase):
    """pymodbus and mbpoll read and write the standard registers and must agree with the
    simulator's own status block."""

    # Dry-contact masks: settings that hold any 16-bit value as written.
    WRITES = {80: 0x8005, 81: 0, 82: 0xFFFF, 83: 0x1234}

    def test_pymodbus_tcp_and_serial(self):
        from pymodbus.client import ModbusSerialClient, ModbusTcpClient
        from pymodbus.framer.ascii_framer import ModbusAsciiFramer

        sim = Sim(self)
        clients = {
            "tcp": ModbusTcpClient("127.0.0.1", port=sim.tcp_port, timeout=3),
            "serial": ModbusSerialClient(sim.pty, framer=ModbusAsciiFramer, baudrate=115200, timeout=3),
        }
        raw = TcpPeer(self, sim.tcp_port)
        for offset, (link, client) in enumerate(clients.items()):
            with self.subTest(link=link):
                self.assertTrue(client.connect())
                self.addCleanup(client.close)
                written = {reg: (value + offset) & 0xFFFF for reg, value in self.WRITES.items()}
                for reg, value in written.items():
                    answer = client.write_register(reg, value, slave=1)
                    self.assertFalse(answer.isError(), answer)
                    self.assertEqual((answer.address, answer.value), (reg, value))

                before = status_registers_tcp(raw)
                first = client.read_input_registers(1, 125, slave=1)
                rest = client.read_input_registers(126, 6, slave=1)
                after = status_registers_tcp(raw)
                self.assertFalse(first.isError(), first)
                self.assertFalse(rest.isError(), rest)
                got = first.registers + rest.registers
                self.assertEqual(len(got), 131)
                # Measurements move between reads; every register that held still across
                # them must read the same through the standard read.
                steady = [n for n in range(131) if before[n] == after[n]]
                self.assertGreater(len(steady), 60)
                self.assertEqual([got[n] for n in steady], [before[n] for n in steady])
                self.assertEqual(got[25], MODEL)
                for reg, value in written.items():
                    self.assertEqual(got[reg - 1], value, "register %d" % reg)

                # A standard server's refusals: beyond the block, and too many at once.
                self.assertTrue(client.read_input_registers(131, 2, slave=1).isError())
                self.assertTrue(client.read_input_registers(1, 126, slave=1).isError())
                client.close()

    def test_mbpoll(self):
        self.assertTrue(shutil.which("mbpoll"), "mbpoll is needed")
        sim = Sim(self, pty=False)
        base = ["mbpoll", "-m", "tcp", "-a", "1", "-0", "-p", str(sim.tcp_port), "-o", "2"]

        proc = subprocess.run(base + ["-r", "84", "-t", "4", "127.0.0.1", "65534"],
                              capture_output=True, timeout=20)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertIn(b"Written 1 references", proc.stdout)

        proc = subprocess.run(base + ["-r", "20", "-c", "70", "-t", "3", "-1", "127.0.0.1"],
                              capture_output=True, timeout=20)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        values = {int(n): int(v) for n, v in re.findall(rb"^\[(\d+)\]:\s+(-?\d+)", proc.stdout, re.M)}
        self.assertEqual(sorted(values), list(range(20, 90)))
        self.assertEqual(values[26], MODEL)
        # mbpoll shows 16-bit registers as signed numbers.
        self.assertEqual(values[84] & 0xFFFF, 0xFFFE)

        raw = status_registers_tcp(TcpPeer(self, sim.tcp_port))
        self.assertEqual(raw[83], 0xFFFE)

        proc = subprocess.run(base + ["-r", "126", "-c", "10", "-t", "3", "-1", "127.0.0.1"],
                              capture_output=True, timeout=20)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn(b"Illegal data address", proc.stdout + proc.stderr)


# ---- the controller's own requests, byte by byte ------------------------------------------

class TcpFramesTest(unittest.TestCase):
    def setUp(self):
        self.sim = Sim(self, pty=False)
        self.peer = TcpPeer(self, self.sim.tcp_port)

    def test_answer_layouts(self):
        peer = self.peer
        cases = [
            # name, request, expected length, function code of the answer
            ("status", tcp_frame(1, 0x04, word(1) + word(131)), 271, 0x04),
            ("ip read", tcp_frame(2, 0x41), 158, 0x41),
            ("alarm count", tcp_frame(3, 0x43, bytes([1, 0x2C])), 12, 0x43),
            ("alarm record", tcp_frame(4, 0x44, bytes([1]) + word(HISTORY - 1)), 43, 0x44),
            ("event count", tcp_frame(5, 0x46, bytes([2, 0])), 12, 0x46),
            ("read 125", tcp_frame(6, 0x04, word(7) + word(125)), 259, 0x04),
        ]
        answers = {}
        for name, request, length, function in cases:
            with self.subTest(name):
                answer = peer.ask(request)
                answers[name] = answer
                self.assertEqual(len(answer), length, answer.hex())
                self.assertEqual(answer[:4], request[:4])  # transaction, protocol
                self.assertEqual(int.from_bytes(answer[4:6], "big"), length - 6)
                self.assertEqual(answer[6:8], bytes([1, function]))

        self.assertEqual(answers["status"][8], 0x06)  # 262 bytes, low byte only
        self.assertEqual(answers["read 125"][8], 250)
        self.assertEqual(answers["status"][9 + 50:11 + 50], word(MODEL))  # register 26
        # The pre-filled records, and any the plant has logged since it started.
        self.assertGreaterEqual(int.from_bytes(answers["alarm count"][8:10], "big"), HISTORY)
        self.assertEqual(answers["alarm record"][8], 34)  # the byte before the record

        events = int.from_bytes(answers["event count"][8:10], "big")
        if events:
            answer = peer.ask(tcp_frame(7, 0x47, bytes([2]) + word(events - 1)))
            self.assertEqual(len(answer), 19, answer.hex())
            self.assertEqual(answer[7:9], bytes([0x47, 10]))

    def test_write_single_register_echoes(self):
        for reg, value in ((85, 0x8005), (86, 0), (87, 0xFFFF)):
            with self.subTest(register=reg):
                request = tcp_frame(reg, 0x06, word(reg) + word(value))
                self.assertEqual(self.peer.ask(request), request)
        self.assertEqual(status_registers_tcp(self.peer)[84:87], [0x8005, 0, 0xFFFF])

    def test_initialisation_names_the_log(self):
        for function, kind, count_function in ((0x45, 1, 0x43), (0x48, 2, 0x46)):
            with self.subTest(function=hex(function)):
                answer = self.peer.ask(tcp_frame(9, function, bytes([kind])))
                self.assertEqual(answer, bytes([0, 9, 0, 0, 0, 3, 1, function, kind]))
                count = self.peer.ask(tcp_frame(10, count_function, bytes([kind, 0])))
                self.assertEqual(count[8:10], word(0))

    def test_ip_settings_write_and_read_back(self):
        block = ip_write_block([192, 168, 50, 93], [255, 255, 255, 0], [192, 168, 50, 1], "현장 A".encode())
        answer = self.peer.ask(tcp_frame(0x1234, 0x42, block))
        # Nothing of the answer is read but its six bytes: the header with length 0.
        self.assertEqual(answer, bytes([0x12, 0x34, 0, 0, 0, 0]))
        answer = self.peer.ask(tcp_frame(0x1235, 0x41))
        self.assertEqual(len(answer), 158)
        data = answer[8:]
        self.assertEqual(data[8:20], bytes([192, 168, 50, 93, 255, 255, 255, 0, 192, 168, 50, 1]))

    def test_refusals(self):
        cases = [
            ("unknown function", tcp_frame(1, 0x2B), bytes([0xAB, 0x01])),
            ("read 126", tcp_frame(1, 0x04, word(1) + word(126)), bytes([0x84, 0x03])),
            ("read 0 registers", tcp_frame(1, 0x04, word(1) + word(0)), bytes([0x84, 0x03])),
            ("131 not from 1", tcp_frame(1, 0x04, word(2) + word(131)), bytes([0x84, 0x03])),
            ("read from 0", tcp_frame(1, 0x04, word(0) + word(1)), bytes([0x84, 0x02])),
            ("read past 131", tcp_frame(1, 0x04, word(130) + word(3)), bytes([0x84, 0x02])),
            ("read too short", tcp_frame(1, 0x04, word(1)), bytes([0x84, 0x03])),
            ("write register 0", tcp_frame(1, 0x06, word(0) + word(1)), bytes([0x86, 0x02])),
            ("record past the end", tcp_frame(1, 0x44, bytes([1]) + word(0xFFFF)), bytes([0xC4, 0x02])),
            ("record of the other log", tcp_frame(1, 0x44, bytes([2]) + word(0)), bytes([0xC4, 0x03])),
            ("count without its byte", tcp_frame(1, 0x43, bytes([1])), bytes([0xC3, 0x03])),
            ("init of the other log", tcp_frame(1, 0x45, bytes([2])), bytes([0xC5, 0x03])),
            ("ip write without marker", tcp_frame(1, 0x42, bytes(40)), bytes([0xC2, 0x03])),
        ]
        for name, request, pdu in cases:
            with self.subTest(name):
                self.assertEqual(self.peer.ask(request), bytes([0, 1, 0, 0, 0, 3, 1]) + pdu)

    def test_stream_framing(self):
        peer = self.peer
        write = tcp_frame(40, 0x06, word(88) + word(0x0102))
        with self.subTest("split byte by byte"):
            for byte in write[:-1]:
                peer.sock.sendall(bytes([byte]))
                time.sleep(0.005)
            self.assertEqual(peer.ask(write[-1:]), write)
        with self.subTest("three requests in one packet"):
            requests = [tcp_frame(41 + i, 0x06, word(88) + word(i)) for i in range(3)]
            self.assertEqual(peer.ask(b"".join(requests)), b"".join(requests))
        with self.subTest("another unit gets no answer"):
            self.assertEqual(peer.ask(tcp_frame(44, 0x04, word(1) + word(1), unit=7), 0.4), b"")
        with self.subTest("garbage, then a request"):
            self.assertEqual(peer.ask(b"\x01\x02\x03\x04\xff\xff garbage", 0.4), b"")
            self.assertEqual(peer.ask(write), write)
        with self.subTest("a length beyond any request"):
            self.assertEqual(peer.ask(bytes([0, 50, 0, 0, 0x10, 0, 1, 4]), 0.4), b"")
            self.assertEqual(peer.ask(write), write)

    def test_noise_then_service(self):
        # Random bytes, some shaped like headers and frames, on both links; the simulator
        # must survive them and answer good requests on a fresh connection afterwards.
        import random
        rng = random.Random(1234)
        sim = Sim(self)
        serial = SerialPeer(self, sim.pty)
        for _ in range(200):
            noise = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
            if rng.random() < 0.3:
                noise = bytes([0, 1, 0, 0, 0, rng.randrange(256)]) + noise
            if rng.random() < 0.3:
                noise = b":" + noise.hex().upper().encode()[:rng.randrange(600)] + b"\r\n"
            with socket.create_connection(("127.0.0.1", sim.tcp_port), timeout=5) as s:
                s.sendall(noise)
            os.write(serial.fd, noise)
        self.assertIsNone(sim.proc.poll())
        serial.receive(0.3)  # whatever the noise made it answer
        self.assertEqual(len(serial.ask(b":01040001008377\r\n")), 537)
        self.assertEqual(len(TcpPeer(self, sim.tcp_port).ask(tcp_frame(1, 0x04, word(1) + word(131)))), 271)

    def test_clients_one_after_another_and_together(self):
        request = tcp_frame(1, 0x04, word(26) + word(1))
        expected = bytes([0, 1, 0, 0, 0, 5, 1, 4, 2]) + word(MODEL)
        for n in range(5):
            with socket.create_connection(("127.0.0.1", self.sim.tcp_port), timeout=5) as s:
                s.sendall(request)
                self.assertEqual(s.recv(100), expected, "client %d" % n)
        others = [TcpPeer(self, self.sim.tcp_port) for _ in range(3)]
        for peer in [self.peer] + others:
            self.assertEqual(peer.ask(request), expected)


class SerialFramesTest(unittest.TestCase):
    def setUp(self):
        self.sim = Sim(self, tcp=True, pty=True)
        self.peer = SerialPeer(self, self.sim.pty)

    def test_answer_layouts(self):
        cases = [
            # name, request body, answer length from ":" to the LRC, answer's code
            ("status", bytes([1, 4]) + word(1) + word(131), 535, 0x04),
            ("ip read", bytes([1, 0x22]), 1 + 4 + 300 + 2, 0xB2),
            ("alarm count", bytes([1, 0x30]), 1 + 4 + 8 + 2, 0xC0),
            ("alarm record", bytes([1, 0x31]) + word(0), 1 + 4 + 68 + 2, 0xC1),
            ("event count", bytes([1, 0x40]), 1 + 4 + 8 + 2, 0xD0),
            ("read 10", bytes([1, 4]) + word(20) + word(10), 1 + 6 + 40 + 2, 0x04),
        ]
        answers = {}
        for name, body, length, code in cases:
            with self.subTest(name):
                answer = self.peer.ask(serial_frame(body))
                self.assertEqual(len(answer), length + 2, answer)
                data = serial_body(answer)
                answers[name] = data
                self.assertEqual(data[:2], bytes([1, code]))
        self.assertTrue(answers["status"][:4] == bytes([1, 4, 1, 6]))
        self.assertEqual(answers["status"][4 + 50:6 + 50], word(MODEL))
        self.assertEqual(answers["read 10"][2], 20)
        self.assertGreaterEqual(int.from_bytes(answers["alarm count"][2:4], "big"), HISTORY)

        # The same record and network block on both links.
        tcp = TcpPeer(self, self.sim.tcp_port)
        self.assertEqual(answers["alarm record"][2:],
                         tcp.ask(tcp_frame(1, 0x44, bytes([1]) + word(0)))[9:])
        self.assertEqual(answers["ip read"][2:], tcp.ask(tcp_frame(2, 0x41))[8:])
        events = int.from_bytes(answers["event count"][2:4], "big")
        if events:
            answer = self.peer.ask(serial_frame(bytes([1, 0x41]) + word(events - 1)))
            self.assertEqual(len(answer), 1 + 4 + 20 + 2 + 2, answer)
            self.assertEqual(serial_body(answer)[2:],
                             tcp.ask(tcp_frame(3, 0x47, bytes([2]) + word(events - 1)))[9:])

    def test_status_poll_exact_text(self):
        answer = self.peer.ask(b":01040001008377\r\n")
        self.assertEqual(len(answer), 537)
        self.assertTrue(answer.startswith(b":01040106"), answer[:20])
        self.assertTrue(re.fullmatch(rb":[0-9A-F]{534}\r\n", answer), answer)

    def test_write_echo_and_acknowledgements(self):
        cases = [
            ("write", bytes([1, 6]) + word(89) + word(0x8005), None),
            ("alarm init", bytes([1, 0x35]), bytes([1, 0xC5])),
            ("event init", bytes([1, 0x45]), bytes([1, 0xD5])),
            ("ip write", bytes([1, 0x23]) + bytes(2) + ip_write_block([10, 0, 0, 5], [255, 0, 0, 0], [10, 0, 0, 1], b"rack"),
             bytes([1, 0xB3])),
        ]
        for name, body, expected in cases:
            with self.subTest(name):
                frame = serial_frame(body)
                self.assertEqual(self.peer.ask(frame), serial_frame(expected) if expected else frame)
        self.assertEqual(serial_body(self.peer.ask(serial_frame(bytes([1, 0x30]))))[2:4], word(0))

    def test_silence_and_refusals(self):
        good = serial_frame(bytes([1, 4]) + word(26) + word(1))
        bad_lrc = good[:-4] + (b"00" if good[-4:-2] != b"00" else b"01") + b"\r\n"
        cases = [
            ("bad LRC", bad_lrc, None),
            ("not hex", b":01040G1A0001XX\r\n", None),
            ("another unit", serial_frame(bytes([2, 4]) + word(26) + word(1)), None),
            ("cut short by a new frame", b":010400" + good, serial_frame(bytes([1, 4, 2]) + word(MODEL))),
            ("lower-case hex", good.lower(), serial_frame(bytes([1, 4, 2]) + word(MODEL))),
            ("unknown function", serial_frame(bytes([1, 0x2B])), serial_frame(bytes([1, 0xAB, 1]))),
            # An exception to 0x50 would read 0xD0, the event count's answer: no answer.
            ("unknown function 0x50", serial_frame(bytes([1, 0x50])), None),
            ("record past the end", serial_frame(bytes([1, 0x31]) + word(0xFFFF)), serial_frame(bytes([1, 0xB1, 2]))),
            ("read past 131", serial_frame(bytes([1, 4]) + word(131) + word(2)), serial_frame(bytes([1, 0x84, 2]))),
            ("ip write without its prefix", serial_frame(bytes([1, 0x23]) + bytes([0x12, 0x34, 0x56, 0x78])),
             serial_frame(bytes([1, 0xA3, 3]))),
        ]
        for name, frame, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.peer.ask(frame, 0.4 if expected is None else 2.0), expected or b"")
                # A good frame is still answered afterwards.
                self.assertEqual(len(self.peer.ask(good)), 15)

    def test_serial_device(self):
        # --serial opens an existing device (here one end of a socat pseudo-terminal pair)
        # the way it opens a real port.
        self.assertTrue(shutil.which("socat"), "socat is needed")
        workdir = tempfile.mkdtemp(prefix="qeln-sim-test-")
        self.addCleanup(shutil.rmtree, workdir, True)
        plant_end, master_end = os.path.join(workdir, "plant"), os.path.join(workdir, "master")
        socat = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + plant_end, "pty,raw,echo=0,link=" + master_end],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (socat.terminate(), socat.wait()))
        deadline = time.monotonic() + 10
        while not (os.path.exists(plant_end) and os.path.exists(master_end)):
            self.assertLess(time.monotonic(), deadline, "socat made no pty pair")
            time.sleep(0.05)
        sim = Sim(self, "--serial", plant_end, tcp=False, pty=False)
        self.assertEqual(sim.lines, ["serial " + plant_end])
        peer = SerialPeer(self, master_end)
        self.assertEqual(len(peer.ask(b":01040001008377\r\n")), 537)

    def test_reopened_device(self):
        os.close(os.open(self.sim.pty, os.O_RDWR | os.O_NOCTTY))
        for _ in range(3):
            peer = SerialPeer(self, self.sim.pty)
            self.assertEqual(len(peer.ask(b":01040001008377\r\n")), 537)


# ---- faults and the process ---------------------------------------------------------------

class FaultsTest(unittest.TestCase):
    STATUS = b":01040001008377\r\n"
    WRITE = tcp_frame(1, 0x06, word(90) + word(0x5A5A))

    def test_drop_everything(self):
        sim = Sim(self, "--drop-rate", "1")
        self.assertEqual(SerialPeer(self, sim.pty).ask(self.STATUS, 0.5), b"")
        self.assertEqual(TcpPeer(self, sim.tcp_port).ask(self.WRITE, 0.5), b"")

    def spoilt_tcp_answers(self, *options, requests=200, request=None):
        """The answers to `requests` register writes (each its own transaction id, the
        answer an echo) at --corrupt-rate 1, and what each gets wrong."""
        sim = Sim(self, "--corrupt-rate", "1", *options, pty=False)
        peer = TcpPeer(self, sim.tcp_port)
        answers, spoils = [], []
        for n in range(requests):
            frame = request(n) if request else tcp_frame(n + 1, 0x06, word(90) + word(n))
            expected = frame if not request else bytes([frame[0], frame[1], 0, 0, 0, 0])
            # At least an exception answer's nine bytes, so that none is left for the next.
            answer = peer.ask_upto(frame, max(len(expected), 9))
            answers.append(answer)
            spoils.append(tcp_spoil_of(expected, answer, frame[7]))
        sim.stop()
        return answers, spoils

    def test_corrupt_everything(self):
        sim = Sim(self, "--corrupt-rate", "1")
        answer = SerialPeer(self, sim.pty).ask(self.STATUS)
        self.assertEqual(len(answer), 537)
        data = bytes.fromhex(answer[1:-2].decode())
        self.assertNotEqual(lrc(data[:-1]), data[-1])

        # On TCP every spoilt answer is one a master can catch, in each of the ways.
        answers, spoils = self.spoilt_tcp_answers()
        for n, (answer, spoil) in enumerate(zip(answers, spoils)):
            self.assertIsNotNone(spoil, "answer %d passes for a good one or is spoilt otherwise: %s" % (n, answer.hex()))
        self.assertEqual(set(spoils), {"tid", "length", "function", "cut", "exception"})
        # A cut answer is followed by nothing: the next answer starts a frame of its own.
        self.assertTrue(any(a == "cut" and b != "cut" for a, b in zip(spoils, spoils[1:])))

    def test_serial_corrupt_kinds(self):
        # Each serial answer spoilt in one of the ways asked for, each a whole frame.
        sim = Sim(self, "--corrupt-rate", "1", "--serial-corrupt-kinds", "lrc,hex,short")
        peer = SerialPeer(self, sim.pty)
        kinds = set()
        for _ in range(30):
            answer = peer.ask(self.STATUS)
            self.assertTrue(answer.startswith(b":") and answer.endswith(b"\r\n"), answer[:20])
            try:
                data = bytes.fromhex(answer[1:-2].decode())
            except ValueError:
                kind, size = "hex", 537
            else:
                kind, size = ("lrc", 537) if lrc(data[:-1]) != data[-1] else ("short", 535)
            self.assertEqual(len(answer), size, (kind, answer[:20]))
            kinds.add(kind)
        self.assertEqual(kinds, {"lrc", "hex", "short"})

    def test_corrupt_kinds(self):
        bare = lambda n: tcp_frame(n + 1, 0x42, ip_write_block([10, 0, 0, 5], [255, 0, 0, 0], [10, 0, 0, 1], b"x"))
        cases = [
            ("cut only", ["--corrupt-kinds", "cut"], None, {"cut"}),
            ("tid and length", ["--corrupt-kinds", "length,tid"], None, {"tid", "length"}),
            ("function", ["--corrupt-kinds", "function"], None, {"function"}),
            # The IP write's answer is a header alone: no function code to change.
            ("function on a bare header", ["--corrupt-kinds", "function"], bare, {"tid"}),
            ("bare header, any", [], bare, {"tid", "length", "cut", "exception"}),
        ]
        for name, options, request, kinds in cases:
            with self.subTest(name):
                answers, spoils = self.spoilt_tcp_answers(*options, requests=40, request=request)
                self.assertNotIn(None, spoils, [a.hex() for a in answers])
                self.assertEqual(set(spoils), kinds)

    def test_seed_makes_tcp_spoils_reproducible(self):
        runs = [self.spoilt_tcp_answers("--seed", seed, requests=30)[0] for seed in ("11", "11", "12")]
        self.assertEqual(runs[0], runs[1])
        self.assertNotEqual(runs[0], runs[2])

    def test_seed_makes_drops_reproducible(self):
        patterns = []
        for _ in range(2):
            sim = Sim(self, "--drop-rate", "0.5", "--seed", "7", pty=False)
            peer = TcpPeer(self, sim.tcp_port)
            patterns.append([bool(peer.ask(self.WRITE, 0.15)) for _ in range(16)])
            sim.stop()
        self.assertEqual(patterns[0], patterns[1])
        self.assertIn(True, patterns[0])
        self.assertIn(False, patterns[0])

    def test_delay(self):
        sim = Sim(self, "--delay-ms", "300")
        for name, peer, request in (("tcp", TcpPeer(self, sim.tcp_port), self.WRITE),
                                    ("serial", SerialPeer(self, sim.pty), self.STATUS)):
            with self.subTest(name):
                start = time.monotonic()
                self.assertTrue(peer.ask(request))
                self.assertGreaterEqual(time.monotonic() - start, 0.29)

    def test_disconnect_every(self):
        sim = Sim(self, "--disconnect-every", "0.5", pty=False)
        peer = TcpPeer(self, sim.tcp_port)
        start = time.monotonic()
        self.assertEqual(peer.ask(self.WRITE), self.WRITE)
        peer.sock.settimeout(3)
        self.assertEqual(peer.sock.recv(10), b"")  # closed by the simulator
        self.assertGreaterEqual(time.monotonic() - start, 0.45)
        # A new connection is served.
        self.assertEqual(TcpPeer(self, sim.tcp_port).ask(self.WRITE), self.WRITE)

    def test_pace_baud(self):
        # 537 characters at 9600 baud, ten bits each: 0.56 s on the line.
        sim = Sim(self, "--pace-baud", "9600", tcp=False)
        peer = SerialPeer(self, sim.pty)
        start = time.monotonic()
        answer = peer.ask(self.STATUS, 3.0)
        elapsed = time.monotonic() - start - 0.06  # less the quiet time of collect()
        self.assertEqual(len(answer), 537)
        self.assertGreater(elapsed, 0.5)
        self.assertLess(elapsed, 1.0)


# ---- history: known logs and the download's faults ----------------------------------------

# A log file in both of its forms (named fields, whole records as hex), and the same records
# byte by byte as worked out by hand.
LOG = {
    "alarm": [
        {"time": "2024-03-05T14:07:09", "acVoltage": 2205, "acCurrent": 52, "dcVoltage": 540,
         "dcCurrent": 1234, "batteryCurrent": -200, "rackTemperature": 0, "detail": 9, "code": 24,
         "occurred": True},
        bytes(range(1, 35)).hex().upper(),
        {"time": "2000-01-01T00:00:00", "words": [1, 2, 3, 4, 5], "bytes": [6, 7, 8], "code": 1,
         "occurred": 0},
    ],
    "event": [
        {"time": "2024-12-31T23:59:59", "code": 15, "value": -10},
        bytes([24, 3, 5, 14, 7, 9, 0, 54, 0xC0, 0xA8]).hex(),
        {"time": "2024-03-05T14:07:09", "code": 3},
    ],
}
RECORDS = {
    1: [bytes([24, 3, 5, 14, 7, 9]) + word(2205) + word(52) + word(540) + word(1234) + word(0xFF38)
        + word(0) + bytes(10) + bytes(3) + bytes([9, 24, 1]),
        bytes(range(1, 35)),
        bytes([0, 1, 1, 0, 0, 0]) + bytes(12) + b"".join(word(w) for w in (1, 2, 3, 4, 5))
        + bytes([6, 7, 8, 0, 1, 0])],
    2: [bytes([24, 12, 31, 23, 59, 59]) + word(15) + word(0xFFF6),
        bytes([24, 3, 5, 14, 7, 9, 0, 54, 0xC0, 0xA8]),
        bytes([24, 3, 5, 14, 7, 9]) + word(3) + word(0)],
}
LINKS = ("serial", "tcp")


def log_file(testcase, content):
    import json
    folder = tempfile.mkdtemp(prefix="qeln-sim-log-")
    testcase.addCleanup(shutil.rmtree, folder, True)
    path = os.path.join(folder, "log.json")
    with open(path, "w", encoding="utf-8") as f:
        f.write(content if isinstance(content, str) else json.dumps(content))
    return path


class HistoryTest(unittest.TestCase):
    def sim(self, *options, **kwargs):
        return Sim(self, "--log-file", log_file(self, LOG), *options, history=None, **kwargs)

    def test_log_file_records_on_both_links(self):
        sim = self.sim()
        for link in LINKS:
            peer = HistoryPeer(self, sim, link)
            for log in (1, 2):
                with self.subTest(link=link, log=log):
                    self.assertEqual(peer.count(log), (peer.count_code(log), word(3) + word(0)))
                    for number, expected in enumerate(RECORDS[log]):
                        code, data = peer.record(log, number)
                        self.assertEqual(code, peer.record_code(log))
                        self.assertEqual(peer.record_bytes(data), expected, "record %d" % number)

    def test_wrong_size_and_other_log_records(self):
        # Record 0 one byte short, record 1 one byte long, record 2 in the other log's layout:
        # well framed each, once in every download; a count request starts the next download.
        sim = self.sim("--record-fault", "0:short", "--record-fault", "1:long", "--record-fault", "2:other-log")
        for link in LINKS:
            peer = HistoryPeer(self, sim, link)
            for log in (1, 2):
                other = 3 - log
                faulty = [(peer.record_code(log), RECORDS[log][0][:-1]),
                          (peer.record_code(log), RECORDS[log][1] + b"\0"),
                          (peer.record_code(other), (RECORDS[log][2] + bytes(34))[:RECORD_SIZE[other]])]
                good = [(peer.record_code(log), r) for r in RECORDS[log]]
                for download in range(2):
                    with self.subTest(link=link, log=log, download=download):
                        peer.count(log)
                        for expected in (faulty, good):
                            got = []
                            for number in range(3):
                                code, data = peer.record(log, number)
                                got.append((code, peer.record_bytes(data)))
                            self.assertEqual(got, expected)

    def test_count_faults(self):
        for link in LINKS:
            for log in (1, 2):
                # The other log holds two records, so its count is told from this one's.
                content = dict(LOG, **{"event" if log == 1 else "alarm": LOG["event" if log == 1 else "alarm"][:2]})
                cases = [
                    ("short", lambda p: (p.count_code(log), word(3) + b"\0")),
                    ("long", lambda p: (p.count_code(log), word(3) + word(0) + b"\0")),
                    ("other-log", lambda p: (p.count_code(3 - log), word(2) + word(0))),
                    ("drop", lambda p: None),
                ]
                for kind, expected in cases:
                    with self.subTest(link=link, log=log, fault=kind):
                        sim = Sim(self, "--log-file", log_file(self, content), "--count-fault", kind,
                                  history=None, tcp=link == "tcp", pty=link == "serial")
                        peer = HistoryPeer(self, sim, link)
                        self.assertEqual(peer.count(log, 0.4 if kind == "drop" else 1.0), expected(peer))
                        # Once only: the next count answer is the true one.
                        self.assertEqual(peer.count(log), (peer.count_code(log), word(3) + word(0)))
                        sim.stop()

    def test_dropped_and_spoilt_answers(self):
        sim = self.sim("--record-fault", "1:drop:2", "--record-fault", "2:drop:all", "--record-fault", "0:corrupt",
                       "--count-fault", "corrupt:all")
        for link in LINKS:
            with self.subTest(link=link):
                peer = HistoryPeer(self, sim, link)
                expected = (peer.record_code(1), RECORDS[1][1])
                for download in range(2):
                    peer.send(bytes([TCP_COUNT[1], 1, 0]) if link == "tcp" else bytes([SERIAL_COUNT[1]]))
                    self.assert_spoilt(link, peer, peer.peer.receive(1.0), bytes([0x43]) + word(3) + word(0))
                    self.assertIsNone(peer.record(1, 1, 0.3))
                    self.assertIsNone(peer.record(1, 1, 0.3))
                    code, data = peer.record(1, 1)
                    self.assertEqual((code, peer.record_bytes(data)), expected)
                    for _ in range(3):
                        self.assertIsNone(peer.record(1, 2, 0.3))
                    peer.send(bytes([TCP_RECORD[1], 1, 0, 0]) if link == "tcp" else bytes([SERIAL_RECORD[1], 0, 0]))
                    self.assert_spoilt(link, peer, peer.peer.receive(1.0), bytes([0x44, 34]) + RECORDS[1][0])
                    code, data = peer.record(1, 0)
                    self.assertEqual((code, peer.record_bytes(data)), (peer.record_code(1), RECORDS[1][0]))

    def assert_spoilt(self, link, peer, answer, tcp_pdu):
        if link == "serial":
            data = bytes.fromhex(answer[1:-2].decode())
            self.assertNotEqual(lrc(data[:-1]), data[-1], answer)
        else:
            expected = tcp_frame(peer.tid, tcp_pdu[0], tcp_pdu[1:])
            self.assertIsNotNone(tcp_spoil_of(expected, answer, tcp_pdu[0]), answer.hex())

    def test_request_faults(self):
        # The second and third record requests of each download go unanswered, whatever
        # record they ask for: here the same record again, as a master's repeat would.
        sim = self.sim("--request-fault", "2:drop:2")
        for link in LINKS:
            with self.subTest(link=link):
                peer = HistoryPeer(self, sim, link)
                for download in range(2):
                    peer.count(2)
                    answered = [peer.record(2, 2, 0.3) is not None for _ in range(5)]
                    self.assertEqual(answered, [True, False, False, True, True])

    def test_delays(self):
        sim = self.sim("--count-delay-ms", "900", "--record-delay-ms", "700")
        for link in LINKS:
            with self.subTest(link=link):
                peer = HistoryPeer(self, sim, link)
                start = time.monotonic()
                self.assertEqual(peer.count(1, 3.0), (peer.count_code(1), word(3) + word(0)))
                self.assertGreaterEqual(time.monotonic() - start, 0.89)
                start = time.monotonic()
                code, _ = peer.record(1, 0, 3.0)
                self.assertGreaterEqual(time.monotonic() - start, 0.69)
                self.assertEqual(code, peer.record_code(1))
                # Other answers are prompt: a status read sent after a record request is
                # answered before the record.
                peer.send(bytes([TCP_RECORD[1] if link == "tcp" else SERIAL_RECORD[1]])
                          + (bytes([1]) if link == "tcp" else b"") + word(2))
                peer.send(bytes([4]) + word(26) + word(1))
                first, second = peer.take(3.0), peer.take(3.0, peer.tid - 1)
                self.assertEqual(first[0], 4)
                self.assertEqual(second[0], peer.record_code(1))

    def test_seed_makes_history_spoils_reproducible(self):
        runs = []
        for seed in ("5", "5", "6"):
            sim = self.sim("--record-fault", "0:corrupt:all", "--seed", seed, pty=False)
            peer = HistoryPeer(self, sim, "tcp")
            answers = []
            for _ in range(12):
                peer.send(bytes([TCP_RECORD[1], 1, 0, 0]))
                answers.append(peer.peer.receive(0.5))
            runs.append(answers)
            sim.stop()
        self.assertEqual(runs[0], runs[1])
        self.assertNotEqual(runs[0], runs[2])

    def test_prefilled_logs_follow_seed_and_clock(self):
        def records(seed, count=60):
            sim = Sim(self, "--event-history", str(count), "--history", str(count), "--clock", "2024-03-07T09:00:00",
                      "--seed", seed, history=None, pty=False)
            peer = HistoryPeer(self, sim, "tcp")
            got = {}
            for log in (1, 2):
                self.assertEqual(peer.count(log), (TCP_COUNT[log], word(count) + word(0)))
                got[log] = [peer.record_bytes(peer.record(log, n)[1]) for n in range(count)]
            sim.stop()
            return got
        first = records("3")
        self.assertEqual(records("3"), first)
        other = records("4")
        for log in (1, 2):
            with self.subTest(log=log):
                self.assertNotEqual(other[log], first[log])
                times = [tuple(r[:6]) for r in first[log]]
                self.assertEqual(times, sorted(times))  # record 0 is the oldest
                self.assertLess(times[-1], (24, 3, 7, 9, 0, 0))
        self.assertGreater(len({int.from_bytes(r[6:8], "big") for r in first[2]}), 10)  # event codes

    def test_log_file_time_is_the_controllers(self):
        # A wall-clock time that the host's zone skips (the spring change) is still the
        # controller's time, byte for byte.
        content = {"event": [{"time": "2024-03-31T02:30:00", "code": 1, "value": 2024}]}
        sim = Sim(self, "--log-file", log_file(self, content), history=None, pty=False,
                  env={"TZ": "Europe/Berlin"})
        peer = HistoryPeer(self, sim, "tcp")
        self.assertEqual(peer.record_bytes(peer.record(2, 0)[1]), bytes([24, 3, 31, 2, 30, 0]) + word(1) + word(2024))

    def test_log_file_after_prefilled_records(self):
        sim = Sim(self, "--log-file", log_file(self, LOG), "--history", "4", "--event-history", "2", pty=False)
        peer = HistoryPeer(self, sim, "tcp")
        for log, older in ((1, 4), (2, 2)):
            self.assertEqual(peer.count(log)[1][:2], word(older + 3))
            self.assertEqual(peer.record_bytes(peer.record(log, older)[1]), RECORDS[log][0])

    def test_bad_log_files(self):
        alarm = LOG["alarm"][0]
        cases = [
            ("not JSON", "{\"alarm\": [", b"not JSON"),
            ("not an object", [], b"JSON object"),
            ("unknown log", {"alarms": []}, b"unknown key"),
            ("not a list", {"event": {}}, b"list"),
            ("unknown field", {"alarm": [dict(alarm, voltage=1)]}, b"unknown field"),
            ("no time", {"event": [{"code": 1}]}, b"time"),
            ("bad time", {"event": [{"time": "2024-02-30T00:00:00", "code": 1}]}, b"time"),
            ("year before 2000", {"event": [{"time": "1999-12-31T23:59:59", "code": 1}]}, b"time"),
            ("no code", {"event": [{"time": "2024-01-01T00:00:00"}]}, b"code"),
            ("word too big", {"alarm": [dict(alarm, acVoltage=65536)]}, b"acVoltage"),
            ("signed too small", {"event": [{"time": "2024-01-01T00:00:00", "code": 1, "value": -32769}]}, b"value"),
            ("fraction", {"alarm": [dict(alarm, dcVoltage=54.5)]}, b"dcVoltage"),
            ("text for a number", {"alarm": [dict(alarm, code="24")]}, b"code"),
            ("four words", {"alarm": [dict(alarm, words=[1, 2, 3, 4])]}, b"words"),
            ("hex of the wrong length", {"event": ["00" * 11]}, b"20 hex digits"),
            ("not hex", {"alarm": ["zz" * 34]}, b"68 hex digits"),
            # Far beyond any integer: refused before it is converted.
            ("huge word", {"alarm": [dict(alarm, words=[1e300, 0, 0, 0, 0])]}, b"words"),
            ("huge negative byte", {"alarm": [dict(alarm, bytes=[0, -1e300, 0])]}, b"bytes"),
            ("huge code", {"event": [{"time": "2024-01-01T00:00:00", "code": 1e300}]}, b"code"),
        ]
        for name, content, message in cases:
            with self.subTest(name):
                proc = subprocess.run([SIM, "--tcp-port", "0", "--log-file", log_file(self, content)],
                                      capture_output=True, timeout=10, stdin=subprocess.DEVNULL)
                self.assertEqual(proc.returncode, 2, proc.stderr)
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"qeln-sim: --log-file", proc.stderr)
                self.assertIn(message, proc.stderr)

    def test_oversized_files_are_refused(self):
        big = log_file(self, "")
        with open(big, "wb") as f:
            f.truncate(16 * 1024 * 1024 + 1)
        for option in ("--log-file", "--scenario"):
            for path, message in ((big, b"is 16777217 bytes; a file over 16 MB is not read"),
                                  ("/dev/zero", b"goes on past 16 MB")):
                with self.subTest(option=option, path=path):
                    proc = subprocess.run([SIM, "--tcp-port", "0", option, path],
                                          capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
                    self.assertEqual(proc.returncode, 2, proc.stderr)
                    self.assertIn(option.encode(), proc.stderr)
                    self.assertIn(message, proc.stderr)


class ProcessTest(unittest.TestCase):
    def test_start_lines(self):
        sim = Sim(self)
        self.assertRegex(sim.lines[0], r"^tcp 127\.0\.0\.1:\d+$")
        self.assertRegex(sim.lines[1], r"^serial /dev/pts/\d+$")
        self.assertTrue(os.path.exists(sim.pty))

    def test_signals_stop_cleanly(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                sim = Sim(self)
                TcpPeer(self, sim.tcp_port)  # a client still connected
                SerialPeer(self, sim.pty)
                time.sleep(0.1)
                self.assertEqual(sim.stop(sig), 0, sim.stderr())

    def run_sim(self, *args):
        return subprocess.run([SIM, *args], capture_output=True, timeout=10, stdin=subprocess.DEVNULL)

    def test_refused_start(self):
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen(1)
            port = busy.getsockname()[1]
            cases = [
                ("port in use", ["--tcp-port", str(port)], 1),
                ("no such serial device", ["--no-tcp", "--serial", "/dev/qeln-no-such-tty"], 1),
                ("model 5", ["--model", "5"], 2),
                ("history 5001", ["--history", "5001"], 2),
                ("drop rate 2", ["--drop-rate", "2"], 2),
                ("bad address", ["--bind", "not-an-address"], 2),
                ("no link at all", ["--no-tcp"], 2),
                ("unknown option", ["--frobnicate"], 2),
                ("unknown scenario", ["--scenario", "no-such-scenario"], 2),
                ("event history 5001", ["--event-history", "5001"], 2),
                ("corrupt kinds unknown", ["--corrupt-kinds", "tid,flip"], 2),
                ("corrupt kinds empty", ["--corrupt-kinds", ""], 2),
                ("record fault kind", ["--record-fault", "3:lost"], 2),
                ("record fault number", ["--record-fault", "5000:drop"], 2),
                ("record fault negative", ["--record-fault", "-1:drop"], 2),
                ("record fault no number", ["--record-fault", "drop"], 2),
                ("record fault times 0", ["--record-fault", "3:drop:0"], 2),
                ("record fault times word", ["--record-fault", "3:drop:often"], 2),
                ("record fault extra part", ["--record-fault", "3:drop:2:1"], 2),
                ("request fault 0", ["--request-fault", "0:drop"], 2),
                ("count fault numbered", ["--count-fault", "1:drop"], 2),
                ("count delay negative", ["--count-delay-ms", "-5"], 2),
                ("record delay huge", ["--record-delay-ms", "600001"], 2),
                ("log file missing", ["--log-file", "/nonexistent/qeln-log.json"], 2),
            ]
            for name, args, code in cases:
                with self.subTest(name):
                    proc = self.run_sim(*args)
                    self.assertEqual(proc.returncode, code, proc.stderr)
                    self.assertEqual(proc.stdout, b"")
                    self.assertIn(b"qeln-sim: ", proc.stderr)

    def test_help_and_version(self):
        proc = self.run_sim("--help")
        self.assertEqual(proc.returncode, 0)
        for option in (b"--tcp-port", b"--pty", b"--serial", b"--drop-rate", b"--pace-baud", b"--scenario",
                       b"--corrupt-kinds", b"--count-fault", b"--record-fault", b"--request-fault",
                       b"--count-delay-ms", b"--record-delay-ms", b"--event-history", b"--log-file",
                       b"--fleet", b"--fleet-dead", b"--fleet-slow", b"--request-log"):
            self.assertIn(option, proc.stdout)
        proc = self.run_sim("--version")
        self.assertEqual(proc.returncode, 0)
        self.assertRegex(proc.stdout, rb"^qeln-sim \d+\.\d+\.\d+\n$")


def main():
    global SIM
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--sim", default=os.environ.get("QELN_SIM"))
    args, rest = parser.parse_known_args()
    if not args.sim or not os.access(args.sim, os.X_OK):
        print("test_sim.py: give the qeln-sim binary with --sim PATH or QELN_SIM", file=sys.stderr)
        print("0 passed, 1 failed")
        return 2
    SIM = test_simfleet.SIM = os.path.abspath(args.sim)

    def use_runtime_dir(path):
        global RUNTIME_DIR
        RUNTIME_DIR = test_simfleet.RUNTIME_DIR = path

    return run_suite(rest, "qeln-sim-xdg-", use_runtime_dir)


if __name__ == "__main__":
    sys.exit(main())
