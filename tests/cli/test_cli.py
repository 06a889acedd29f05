#!/usr/bin/python3
"""qeln-cli against independent peers.

The peers are tests/peers/miniplant.py (a small controller stand-in that logs every request
and can misbehave on purpose) and pymodbus's Modbus TCP and Modbus ASCII servers, the latter
on a socat pseudo-terminal pair.

    /usr/bin/python3 tests/cli/test_cli.py --cli build/cli/qeln-cli [unittest options]

The binary can also be given in QELN_CLI. The last line printed is "N passed, N failed".
"""

import argparse
import concurrent.futures
import json
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from countingresult import run_suite  # noqa: E402

PYTHON = "/usr/bin/python3"
HERE = os.path.dirname(os.path.abspath(__file__))
MINIPLANT = os.path.normpath(os.path.join(HERE, "..", "peers", "miniplant.py"))

CLI = None
SIM = None
RUNTIME_DIR = None

SUCCESS = b" Setting Sucess!!\n"
STATUS_TCP = bytes.fromhex("000100000006010400010083")
STATUS_SERIAL = b":01040001008377\r\n"

# Handed to the peer so the output can only have come from it: both ends of the range, the
# sign bit and mixed patterns.
REGISTERS = [(n * 0x9E37 + 0x55) & 0xFFFF for n in range(131)]
REGISTERS[0] = 0xFFFF
REGISTERS[1] = 0
REGISTERS[130] = 0x8000


def lrc(data):
    return (-sum(data)) & 0xFF


def serial_frame(body):
    return b":" + (body + bytes([lrc(body)])).hex().upper().encode() + b"\r\n"


def tcp_write_frame(tid, reg, value):
    return bytes([tid >> 8, tid & 0xFF, 0, 0, 0, 6, 1, 6, reg >> 8, reg & 0xFF, value >> 8, value & 0xFF])


def write_frame(link, index, reg, value):
    """The index-th (from 1) write request of a run, as it must appear on the wire."""
    if link == "tcp":
        return tcp_write_frame(index, reg, value)
    return serial_frame(bytes([1, 6, reg >> 8, reg & 0xFF, value >> 8, value & 0xFF]))


def status_text(values):
    return "".join("%d %d\n" % (n, v) for n, v in enumerate(values, 1)).encode()


def run_cli(*args, timeout=40, env_extra=None):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=RUNTIME_DIR, **(env_extra or {}))
    start = time.monotonic()
    proc = subprocess.run([CLI, *args], capture_output=True, env=env, timeout=timeout)
    proc.elapsed = time.monotonic() - start
    return proc


def describe(proc):
    return "exit %s after %.1f s\nstdout: %r\nstderr: %r" % (
        proc.returncode, proc.elapsed, proc.stdout[:300], proc.stderr[:600])


def start_process(testcase, cmd, workdir, name):
    """Starts a peer, waits for its "ready" line and returns (process, lines before it)."""
    errpath = os.path.join(workdir, name + ".stderr")
    with open(errpath, "wb") as err:
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL)
    testcase.addCleanup(stop_process, proc)
    lines, buffer = [], b""
    deadline = time.monotonic() + 20
    while True:
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            line = line.decode().strip()
            if line == "ready":
                return proc, lines
            lines.append(line)
        left = deadline - time.monotonic()
        readable = select.select([proc.stdout], [], [], max(left, 0))[0] if left > 0 else []
        chunk = os.read(proc.stdout.fileno(), 4096) if readable else b""
        if not chunk:
            with open(errpath, "rb") as err:
                raise AssertionError("%s did not start: %r" % (name, err.read()[-2000:]))
        buffer += chunk


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


def temp_dir(testcase):
    d = tempfile.TemporaryDirectory(prefix="qeln-cli-test-")
    testcase.addCleanup(d.cleanup)
    return d.name


class MiniPlant:
    """tests/peers/miniplant.py on one link ("tcp" or "serial")."""

    def __init__(self, testcase, link, *options):
        self.link = link
        workdir = temp_dir(testcase)
        self.logpath = os.path.join(workdir, "requests.log")
        cmd = [PYTHON, MINIPLANT, "--log", self.logpath, *options]
        cmd += ["--tcp", "0"] if link == "tcp" else ["--serial"]
        self.proc, lines = start_process(testcase, cmd, workdir, "miniplant")
        kind, where = lines[-1].split(" ", 1)
        assert kind == link, lines
        self.target = "tcp:127.0.0.1:" + where if link == "tcp" else "serial:" + where

    def requests(self):
        """Every request the peer received, in order, as raw bytes."""
        if not os.path.exists(self.logpath):
            return []
        with open(self.logpath) as log:
            return [bytes.fromhex(line.split()[1]) for line in log if line.strip()]


PYMODBUS_SERVER = r"""
import asyncio, sys
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer


async def main():
    # Holding registers at wire addresses 0..119, all 0x1111; higher addresses are refused.
    block = ModbusSequentialDataBlock(0, [0x1111] * 121)
    context = ModbusServerContext(slaves=ModbusSlaveContext(hr=block), single=True)
    if sys.argv[1] == "tcp":
        server = ModbusTcpServer(context, ModbusSocketFramer, None, ("127.0.0.1", 0))
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        print("tcp", server.server.sockets[0].getsockname()[1])
        print("ready", flush=True)
        await task
    else:
        server = ModbusSerialServer(context, ModbusAsciiFramer, port=sys.argv[2], baudrate=115200)
        await server.start()
        print("ready", flush=True)
        await server.serve_forever()

asyncio.run(main())
"""


def pymodbus_peer(testcase, link):
    """Starts a pymodbus server; returns (link target for the CLI, client to read back)."""
    from pymodbus.client import ModbusSerialClient, ModbusTcpClient
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer

    workdir = temp_dir(testcase)
    if link == "tcp":
        _, lines = start_process(testcase, [PYTHON, "-c", PYMODBUS_SERVER, "tcp"], workdir, "pymodbus")
        port = int(lines[-1].split()[1])
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
        target = "tcp:127.0.0.1:%d" % port
    else:
        testcase.assertTrue(shutil.which("socat"), "socat is needed for the serial peer")
        server_end, cli_end = os.path.join(workdir, "plant"), os.path.join(workdir, "console")
        socat = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + server_end, "pty,raw,echo=0,link=" + cli_end],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        testcase.addCleanup(stop_process, socat)
        deadline = time.monotonic() + 10
        while not (os.path.exists(server_end) and os.path.exists(cli_end)):
            testcase.assertLess(time.monotonic(), deadline, "socat made no pty pair")
            time.sleep(0.05)
        start_process(testcase, [PYTHON, "-c", PYMODBUS_SERVER, "serial", server_end], workdir, "pymodbus")
        # Reads back over the console's end, once the CLI has let go of it.
        client = ModbusSerialClient(cli_end, framer=ModbusAsciiFramer, baudrate=115200, timeout=3)
        target = "serial:" + cli_end
    testcase.addCleanup(client.close)
    return target, client


class StatusTest(unittest.TestCase):
    def test_status_text_and_json(self):
        for link, first in (("tcp", STATUS_TCP), ("serial", STATUS_SERIAL)):
            with self.subTest(link=link):
                plant = MiniPlant(self, link, "--registers", json.dumps(REGISTERS))
                text = run_cli("--link", plant.target, "status")
                self.assertEqual(text.returncode, 0, describe(text))
                self.assertEqual(text.stdout, status_text(REGISTERS))
                self.assertEqual(text.stderr, b"")
                self.assertEqual(plant.requests()[0], first)

                js = run_cli("--link", plant.target, "status", "--json")
                self.assertEqual(js.returncode, 0, describe(js))
                decoded = json.loads(js.stdout)
                self.assertEqual(decoded["registers"], REGISTERS)
                self.assertEqual(sorted(decoded), ["alarms", "registers", "texts", "visible"])

    def test_status_json_texts_visibility_alarms(self):
        # A model-4 plant on battery with alarms; the expected texts are worked out here, apart
        # from the console's own formatters.
        regs = [0] * 131

        def put(n, v):
            regs[n - 1] = v
        for n, v in ((1, 2024), (2, 3), (3, 7), (4, 9), (5, 5), (6, 0), (7, 2205), (9, 540),
                     (10, 0xFFF6), (11, 0xFFDD), (12, 1250), (13, 0x8000), (15, 0x0021),
                     (16, 0x0080), (26, 4), (27, 0x0102), (28, 0x0005), (29, 0x2023),
                     (30, 0x0615), (41, 5), (42, 1), (61, 5400), (66, 1), (67, 1), (96, 102),
                     (98, 0), (110, 354), (124, 7), (131, 1)):
            put(n, v)

        def tenths(v, unit):
            if v == 0:
                return "0.0 " + unit
            if 1 <= v <= 9:
                return "0.%d %s" % (v, unit)
            if 10 <= v <= 9999:
                return "%d.%d %s" % (v // 10, v % 10, unit)
            return "%d %s" % (v, unit)

        def hundredths(v, unit):
            if 1 <= v <= 9999:
                return "%d.%02d %s" % (v // 100, v % 100, unit)
            return "%d %s" % (v, unit)

        def signed(v, unit):
            if v & 0x8000:
                return "-" + tenths(0x10000 - v, " ") + unit
            return "+" + tenths(v, " ") + unit

        expected_texts = {
            "Main_Form": " QELN-2KN(A)",
            "ComSetting.0": " QELN-2KN(A)  F/W V1.2.0.5  (2023/06/15)",
            "ComSetting.1": "[  2024-03-07  09:05:00 ]",
            "Label_ACV": "AC전압 : " + tenths(2205, "V"),
            "Lable_DCV": "DC전압 : " + tenths(540, "V"),
            "Lable_DCA": "DC전류 : " + signed(0xFFF6, "A"),
            "Lable_BCA": "Battery전류 : " + signed(0xFFDD, "A"),
            "Label_BT": "Battery온도 : Open",
            "Label_RT": "정류기온도 : -32768  C",
            "Label_SetV": "설정전압 : " + hundredths(5400, "V"),
            "Lable_BFW": "FW : V1.2",
            "Lable_BV": "전압 : 0 V",
            "Lable_BCV1": "셀전압1 : " + hundredths(354, "V"),
            "Lable_BCV15": "셀전압15 : 0.07 V",
            "Lable_BReady": "축전지-NFB : OFF",
            "LabCanCpuCom": "CPU Com(Fail)",
        }
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                plant = MiniPlant(self, link, "--registers", json.dumps(regs))
                proc = run_cli("--link", plant.target, "status", "--json")
                self.assertEqual(proc.returncode, 0, describe(proc))
                out = json.loads(proc.stdout)
                for name, text in expected_texts.items():
                    self.assertEqual(out["texts"].get(name), text, name)
                self.assertEqual(out["alarms"], ["AC Input Fail", "DC Over Current", "Battery BMS Alarm"])
                visible = out["visible"]
                # Model 4 with TTL output: four contacts; contacts 1 and 3 in alarm.
                for name, shown in (("Lable_Contact5", False), ("ImDry6Nor", False), ("ImDry1Arm", True),
                                    ("ImDry1Nor", False), ("ImDry2Nor", True), ("ImDry3Arm", True),
                                    ("LabelBattCommFail", True), ("FlatGroupBox1", True),
                                    ("LabCanCpuCom", True), ("Lab_Alarm_Test", False)):
                    self.assertEqual(visible.get(name), shown, name)

    def test_status_from_fragmented_answers(self):
        # A line delivers the answer in pieces; the MBAP header and the ASCII frame get cut.
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                plant = MiniPlant(self, link, "--chunk", "6", "--registers", json.dumps(REGISTERS))
                proc = run_cli("--link", plant.target, "status")
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertEqual(proc.stdout, status_text(REGISTERS))

    def test_trace_goes_to_stderr_only(self):
        plant = MiniPlant(self, "serial", "--registers", json.dumps(REGISTERS))
        proc = run_cli("--trace", "--link", plant.target, "status")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertIn(b"Send data >>[17]:01040001008377", proc.stderr)
        self.assertIn(b"Receive >> :01040106", proc.stderr)
        self.assertEqual(proc.stdout, status_text(REGISTERS))

    def test_invalid_answers_are_never_taken(self):
        # Each case waits out the whole status window, so they run side by side.
        cases = [
            ("tcp", "--drop"),
            ("tcp", "--corrupt", "tid"),
            ("tcp", "--corrupt", "count"),
            ("tcp", "--corrupt", "length"),
            ("tcp", "--short"),
            ("serial", "--drop"),
            ("serial", "--corrupt", "lrc"),
            ("serial", "--short"),
        ]
        peers = [(" ".join(case), MiniPlant(self, case[0], *case[1:])) for case in cases]
        # A standard server refuses a read of 131 registers with an exception answer.
        peers += [("pymodbus " + link, pymodbus_peer(self, link)[0]) for link in ("tcp", "serial")]
        targets = [peer if isinstance(peer, str) else peer.target for _, peer in peers]
        with concurrent.futures.ThreadPoolExecutor(len(targets)) as pool:
            runs = list(pool.map(lambda target: run_cli("--link", target, "status"), targets))
        for (name, peer), proc in zip(peers, runs):
            with self.subTest(case=name):
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"no valid status", proc.stderr)
                self.assertLess(proc.elapsed, 15)
                if isinstance(peer, str):
                    continue
                # It kept asking until the window closed, with the status request only.
                sent = peer.requests()
                self.assertGreaterEqual(len(sent), 2, sent)
                if peer.link == "tcp":
                    expected = [bytes([0, n]) + STATUS_TCP[2:] for n in range(1, len(sent) + 1)]
                else:
                    expected = [STATUS_SERIAL] * len(sent)
                self.assertEqual(sent, expected)

    def test_link_that_cannot_be_opened(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            refused = s.getsockname()[1]
        for target, most in (("tcp:127.0.0.1:%d" % refused, 4), ("serial:/dev/qeln-no-such-tty", 4)):
            with self.subTest(link=target):
                proc = run_cli("--link", target, "status")
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"qeln-cli: ", proc.stderr)
                # Fails at once, not at the end of the status window.
                self.assertLess(proc.elapsed, most, describe(proc))

    def test_port_held_by_another_program(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        device = os.ttyname(slave)
        holder = start_cli("--link", "serial:" + device, "log", "--output-dir", temp_dir(self))
        self.addCleanup(stop_process, holder)
        # The holder has the port once its lock file is there (the first folder of these that
        # the port's lock can be written in).
        name = "LCK.." + device[len("/dev/"):].replace("/", "_")
        folders = ["/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", tempfile.gettempdir()]
        lock = [os.path.join(d, name) for d in folders if os.access(d, os.R_OK | os.W_OK)][0]
        deadline = time.monotonic() + 20
        while not os.path.exists(lock) and time.monotonic() < deadline and holder.poll() is None:
            select.select([], [], [], 0.05)
        self.assertTrue(os.path.exists(lock), "no lock file %s" % lock)
        proc = run_cli("--link", "serial:" + device, "status")
        self.assertEqual(proc.returncode, 1, describe(proc))
        self.assertIn(b"the port is in use by another program: qeln-cli (process %d, lock file %s)"
                      % (holder.pid, lock.encode()), proc.stderr)


class WriteTest(unittest.TestCase):
    def read_back(self, client, registers):
        self.assertTrue(client.connect())
        values = {}
        for reg in registers:
            answer = client.read_holding_registers(reg, 1, slave=1)
            self.assertFalse(answer.isError(), answer)
            values[reg] = answer.registers[0]
        client.close()
        return values

    def test_write_to_standard_servers(self):
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                target, client = pymodbus_peer(self, link)
                proc = run_cli("--link", target, "write", "48=0x8005", "54=0", "55=65535")
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertEqual(proc.stdout, SUCCESS)
                self.assertEqual(proc.stderr, b"")
                # Register N is wire address N: the neighbours must stay untouched.
                self.assertEqual(self.read_back(client, [47, 48, 49, 53, 54, 55, 56]),
                                 {47: 0x1111, 48: 0x8005, 49: 0x1111, 53: 0x1111,
                                  54: 0, 55: 0xFFFF, 56: 0x1111})

                # The server refuses address 125 (exception answer): that is no success, and
                # the sequence stops there.
                proc = run_cli("--link", target, "write", "48=7", "125=1")
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertEqual(self.read_back(client, [48]), {48: 0x8005})

    def test_write_order(self):
        entries = [(10, 1), (20, 0x0200), (30, 0xFFFF)]
        args = ["%d=%d" % e for e in entries]
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                plant = MiniPlant(self, link)
                proc = run_cli("--link", plant.target, "write", *args)
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertEqual(proc.stdout, SUCCESS)
                expected = [write_frame(link, i, *e) for i, e in enumerate(reversed(entries), 1)]
                self.assertEqual(plant.requests(), expected)

    def test_write_to_a_peer_that_hangs_up_after_each_answer(self):
        # Each next write finds the connection closed by the peer, notices it before sending,
        # and goes out once on a fresh connection: no write ever reaches the plant twice.
        entries = [(10, 1), (20, 2), (30, 3)]
        plant = MiniPlant(self, "tcp", "--hang-up")
        proc = run_cli("--link", plant.target, "write", *("%d=%d" % e for e in entries))
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(proc.stdout, SUCCESS)
        received = [(r[8] << 8 | r[9], r[10] << 8 | r[11]) for r in plant.requests() if r[7] == 0x06]
        self.assertEqual(received, list(reversed(entries)))

    def test_write_refused_with_an_exception(self):
        # The plant refuses register 49: the sequence ends at once with the register and the
        # exception named, and the entries after it are not sent.
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                plant = MiniPlant(self, link, "--refuse", "49")
                started = time.monotonic()
                proc = run_cli("--link", plant.target, "write", "48=1", "49=2", "50=3")
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertLess(time.monotonic() - started, 1.9)
                self.assertIn(b"The controller refused the write of register 49 (value 2): exception 02 "
                              b"(illegal data address). 1 of 3 settings were written", proc.stderr)
                self.assertEqual(plant.requests(), [write_frame(link, 1, 50, 3), write_frame(link, 2, 49, 2)])

    def test_write_acknowledged_with_a_length_field_one_too_high(self):
        plant = MiniPlant(self, "tcp", "--corrupt", "length")
        proc = run_cli("--link", plant.target, "write", "48=1", "49=2")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(proc.stdout, SUCCESS)

    def test_write_full_queue(self):
        entries = [(n, n * 601) for n in range(1, 101)]
        plant = MiniPlant(self, "tcp")
        proc = run_cli("--link", plant.target, "write", *("%d=%d" % e for e in entries))
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(proc.stdout, SUCCESS)
        expected = [write_frame("tcp", i, *e) for i, e in enumerate(reversed(entries), 1)]
        self.assertEqual(plant.requests(), expected)

    def test_write_without_valid_acknowledgement(self):
        cases = [
            ("tcp", "--no-ack"),
            ("serial", "--no-ack"),
            ("tcp", "--corrupt", "tid"),
            ("tcp", "--corrupt", "long-length"),
            ("serial", "--corrupt", "lrc"),
            ("tcp", "--wrong-echo"),
            ("serial", "--wrong-echo"),
        ]
        plants = [MiniPlant(self, case[0], *case[1:]) for case in cases]
        with concurrent.futures.ThreadPoolExecutor(len(plants)) as pool:
            runs = list(pool.map(lambda p: run_cli("--link", p.target, "write", "48=1", "49=2"), plants))
        for case, plant, proc in zip(cases, plants, runs):
            with self.subTest(case=" ".join(case)):
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"no acknowledgement", proc.stderr)
                self.assertEqual(plant.requests(), [write_frame(case[0], 1, 49, 2)])

    def test_usage_errors(self):
        plant = MiniPlant(self, "tcp")
        link = ["--link", plant.target]
        cases = {
            "register 0": link + ["write", "0=1"],
            "register 132": link + ["write", "132=1"],
            "register 0x84": link + ["write", "0x84=1"],
            "value 65536": link + ["write", "48=65536"],
            "value 0x10000": link + ["write", "48=0x10000"],
            "value -1": link + ["write", "48=-1"],
            "no value": link + ["write", "48"],
            "empty value": link + ["write", "48="],
            "value not a number": link + ["write", "48=abc"],
            "bad entry after good ones": link + ["write", "48=1", "49=x"],
            "nothing to write": link + ["write"],
            "101 entries": link + ["write"] + ["%d=1" % n for n in range(1, 102)],
            "no --link": ["write", "48=1"],
            "--link without value": ["--link"],
            "tcp without host": ["--link", "tcp:", "status"],
            "port 0": ["--link", "tcp:127.0.0.1:0", "status"],
            "port 70000": ["--link", "tcp:127.0.0.1:70000", "status"],
            "serial without device": ["--link", "serial:", "write", "48=1"],
            "unknown link kind": ["--link", "udp:127.0.0.1", "status"],
            "unknown command": link + ["reboot"],
            "status with extra argument": link + ["status", "48=1"],
        }
        # Refusals whose words matter: what is wrong, and what to do.
        explained = {
            "stray part after the port": (["--link", plant.target + ":5", "status"],
                                          b"':5' after the port is not part of a link"),
            "stray part after an IPv6 port": (["--link", "tcp:[::1]:1502:x", "status"], b"':x' after the port"),
            "clear-history alarm without --yes": (link + ["clear-history", "alarm"],
                                                  b"clear-history alarm: nothing was sent; add --yes"),
            "clear-history event without --yes": (link + ["clear-history", "event"], b"erases its event log"),
        }
        cases.update({name: args for name, (args, _) in explained.items()})
        for name, args in cases.items():
            with self.subTest(name):
                proc = run_cli(*args)
                self.assertEqual(proc.returncode, 2, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"qeln-cli: ", proc.stderr)
                if name in explained:
                    self.assertIn(explained[name][1], proc.stderr)
        self.assertEqual(plant.requests(), [])


def start_simulator(testcase, *extra):
    """Starts qeln-sim on a free TCP port and a pseudo-terminal; returns {"tcp": ..., "serial": ...}."""
    if not SIM:
        testcase.skipTest("no qeln-sim given (--sim PATH or QELN_SIM)")
    errpath = os.path.join(temp_dir(testcase), "sim.stderr")
    with open(errpath, "wb") as err:
        proc = subprocess.Popen(
            [SIM, "--tcp-port", "0", "--pty", "--seed", "7", "--clock", "2026-03-04T05:06:07", *extra],
            stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL)
    testcase.addCleanup(stop_process, proc)
    links = {}
    buffer, deadline = b"", time.monotonic() + 20
    while len(links) < 2:
        left = deadline - time.monotonic()
        readable = select.select([proc.stdout], [], [], max(left, 0))[0] if left > 0 else []
        chunk = os.read(proc.stdout.fileno(), 4096) if readable else b""
        if not chunk:
            with open(errpath, "rb") as err:
                raise AssertionError("qeln-sim did not start: %r" % err.read()[-2000:])
        buffer += chunk
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            kind, _, where = line.decode().strip().partition(" ")
            if kind in ("tcp", "serial"):
                links[kind] = kind + ":" + where
    return links


class SimulatorTest(unittest.TestCase):
    """The console's link engine against the simulated controller, which frames and parses
    with code of its own, on both links."""

    def setUp(self):
        self.links = start_simulator(self)

    def test_write_then_status_reads_it_back(self):
        for link, (period, minutes) in (("tcp", (6, 30)), ("serial", (9, 45))):
            with self.subTest(link=link):
                proc = run_cli("--link", self.links[link], "write", "74=%d" % period, "79=%d" % minutes)
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertEqual(proc.stdout, SUCCESS)
                proc = run_cli("--link", self.links[link], "status", "--json")
                self.assertEqual(proc.returncode, 0, describe(proc))
                registers = json.loads(proc.stdout)["registers"]
                self.assertEqual(len(registers), 131)
                self.assertEqual(registers[74 - 1], period)
                self.assertEqual(registers[79 - 1], minutes)
                self.assertEqual(registers[26 - 1], 3)       # model code
                self.assertEqual(registers[1 - 1], 2026)     # the plant clock's year
                self.assertTrue(all(0 <= v <= 0xFFFF for v in registers))

    def test_refused_write_is_not_a_success(self):
        # A measurement cannot be written: the controller refuses, the CLI says so.
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                proc = run_cli("--link", self.links[link], "write", "9=1")
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertEqual(proc.stdout, b"")


LOG_HEADER = [
    "".join(["  시간; ", " 입력전압; ", " 입력전류; ", " 출력전압; ", " 출력부하; ", " 축전지전류; ",
             " 축전지실온도; ", " 랙온도; ", " 출력설정; ", " 알람상태; ", " 배터리 전압; "]
            + [" 셀전압 %d; " % n for n in range(1, 16)] + [" 배터리 보호;"]),
    "-" * 178,
    "ALARM1 //0x0001:AC FAIL, 0x0002:OV, 0x0004:UV, 0x0020:OCA, 0x0100:UF    ",
    "ALARM2 //0x0002:BLV,     0x0008:OT, 0x0020:BF, 0x0040:BCF",
    "-" * 178,
]
LOG_NAME = re.compile(r"QELN-2KN\(A\)_\d{14}(-\d+)?\.txt$")
# A record: the time stamp, "; ", then 26 fields joined by " ; ", the last one four hex digits.
LOG_RECORD = re.compile(r"(\[al\])?\[  \d{4}-\d\d-\d\d  \d\d:\d\d:\d\d \]; ([^;]* ; ){25}[0-9A-F]{4}$")


def start_cli(*args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=RUNTIME_DIR)
    return subprocess.Popen([CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, env=env)


class LogTest(unittest.TestCase):
    """qeln-cli log: the console's data log, headless, against the simulated controller."""

    def setUp(self):
        SimulatorTest.setUp(self)

    def test_log_until_signal(self):
        runs = []
        for link, sig in (("tcp", signal.SIGINT), ("serial", signal.SIGTERM)):
            out = temp_dir(self)
            proc = start_cli("--link", self.links[link], "log", "--interval", "2s", "--output-dir", out)
            self.addCleanup(stop_process, proc)
            runs.append((link, sig, out, proc))
        time.sleep(5.5)
        for link, sig, out, proc in runs:
            with self.subTest(link=link, signal=sig.name):
                proc.send_signal(sig)
                stdout, stderr = proc.communicate(timeout=10)
                self.assertEqual(proc.returncode, 0, stderr)
                files = os.listdir(out)
                self.assertEqual(len(files), 1, files)
                self.assertRegex(files[0], LOG_NAME)
                self.assertEqual(stdout.decode().splitlines(), [os.path.join(out, files[0])])
                with open(os.path.join(out, files[0]), "rb") as f:
                    data = f.read()
                self.assertTrue(data.endswith(b"\r\n"))
                self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), "a line not ended by CR LF")
                lines = data.decode("cp949").split("\r\n")[:-1]
                self.assertEqual(lines[:5], LOG_HEADER)
                records = lines[5:]
                for line in records:
                    self.assertRegex(line, LOG_RECORD)
                # The first status opens the log with the alarm words it found; periodic
                # lines follow every 2 s, stamped with the plant's clock.
                self.assertTrue(records[0].startswith("[al][  2026-03-04  05:0"), records[0])
                periodic = [line for line in records if not line.startswith("[al]")]
                self.assertGreaterEqual(len(periodic), 1, records)
                self.assertLessEqual(len(periodic), 3, records)
                self.assertEqual(len(periodic[0].split(" ; ")), 26)

    def test_log_without_answer(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            refused = s.getsockname()[1]
        with socket.socket() as silent:
            # Takes the connection and never answers.
            silent.bind(("127.0.0.1", 0))
            silent.listen(4)
            for target, least, most in (("tcp:127.0.0.1:%d" % refused, 0, 4),
                                        ("tcp:127.0.0.1:%d" % silent.getsockname()[1], 4.5, 10)):
                with self.subTest(target=target):
                    out = temp_dir(self)
                    proc = run_cli("--link", target, "log", "--output-dir", out)
                    self.assertEqual(proc.returncode, 1, describe(proc))
                    self.assertEqual(proc.stdout, b"")
                    self.assertIn(b"qeln-cli: ", proc.stderr)
                    self.assertGreaterEqual(proc.elapsed, least, describe(proc))
                    self.assertLess(proc.elapsed, most, describe(proc))
                    self.assertEqual(os.listdir(out), [])

    def test_log_usage_errors(self):
        plant = MiniPlant(self, "tcp")
        out = temp_dir(self)
        a_file = os.path.join(out, "file.txt")
        open(a_file, "w").close()
        cases = {
            "interval 3s": ["--interval", "3s"],
            "interval 2S": ["--interval", "2S"],
            "empty interval": ["--interval="],
            "interval without value": ["--interval"],
            "missing output folder": ["--output-dir", os.path.join(out, "missing")],
            "output folder under a file": ["--output-dir", os.path.join(a_file, "sub")],
            "output folder is a file": ["--output-dir", a_file],
            "unknown option": ["--json"],
        }
        for name, args in cases.items():
            with self.subTest(name):
                proc = run_cli("--link", plant.target, "log", *args)
                self.assertEqual(proc.returncode, 2, describe(proc))
                self.assertEqual(proc.stdout, b"")
                self.assertIn(b"qeln-cli: ", proc.stderr)
        self.assertEqual(plant.requests(), [])
        self.assertEqual(os.listdir(out), ["file.txt"])


class HistoryTest(unittest.TestCase):
    """qeln-cli history and clear-history against the simulated controller's logs."""

    def setUp(self):
        self.links = start_simulator(self, "--history", "250")

    def read_xlsx(self, path):
        import openpyxl
        sheet = openpyxl.load_workbook(path).worksheets[0]
        return [[c.value for c in row] for row in sheet.iter_rows()]

    def test_download_both_logs_both_links(self):
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                out = temp_dir(self)
                book = os.path.join(out, "alarms.xlsx")
                proc = run_cli("--link", self.links[link], "history", "alarm", "--out", book)
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertEqual(os.listdir(out), ["alarms.xlsx"])
                rows = self.read_xlsx(book)
                self.assertEqual(rows[0][0], " QELN-2KNLog Data")
                self.assertEqual(rows[1][:4], ["순서", "날짜", "시간", "AC전압"])
                records = [r for r in rows[2:] if any(v is not None for v in r)]
                self.assertEqual(len(records), 250)
                self.assertEqual([r[0] for r in records], ["%03d" % k for k in range(1, 251)])
                # The newest first: the plant's clock runs forward, the rows go back in time.
                stamps = [(r[1], r[2]) for r in records]
                self.assertEqual(stamps, sorted(stamps, reverse=True))

                proc = run_cli("--link", self.links[link], "history", "alarm")
                self.assertEqual(proc.returncode, 0, describe(proc))
                lines = proc.stdout.decode("utf-8").split("\r\n")
                self.assertEqual(lines[-1], "")
                self.assertEqual(len(lines) - 1, 251)
                self.assertTrue(lines[1].startswith("001,"), lines[1])
                # The event log of a fresh plant is empty: a header-only file and exit 0.
                csv_path = os.path.join(out, "events.csv")
                proc = run_cli("--link", self.links[link], "history", "event", "--out", csv_path)
                self.assertEqual(proc.returncode, 0, describe(proc))
                with open(csv_path, "rb") as f:
                    self.assertEqual(f.read(), "순서,날짜,시간,이벤트 내용,value,\r\n".encode())

    def test_clear_history(self):
        proc = run_cli("--link", self.links["serial"], "clear-history", "alarm", "--yes")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(proc.stdout, b" Alarm Initial Sucess!!\n")
        proc = run_cli("--link", self.links["tcp"], "history", "alarm")
        self.assertEqual(proc.returncode, 0, describe(proc))
        # The clearing may itself leave a record behind; the 250 old ones are gone.
        self.assertLess(proc.stdout.count(b"\r\n"), 5, proc.stdout[:400])

    def csv_rows(self, proc):
        lines = proc.stdout.decode("utf-8").split("\r\n")[1:-1]
        return [line.split(",") for line in lines]

    def test_faults_mid_download_leave_rows_exact(self):
        # The same log twice: clean, and with a spoilt answer half-way. Each row must hold the
        # same record as without the fault: no duplicate, no gap, no shift.
        clean = {}
        for link in ("tcp", "serial"):
            proc = run_cli("--link", self.links[link], "history", "alarm")
            self.assertEqual(proc.returncode, 0, describe(proc))
            clean[link] = self.csv_rows(proc)
        self.assertEqual(clean["tcp"], clean["serial"])
        self.assertEqual(len(clean["tcp"]), 250)
        for fault in ("drop", "corrupt", "short", "long", "other-log", "drop:3"):
            links = start_simulator(self, "--history", "250", "--record-fault", "120:" + fault)
            for link in ("tcp", "serial"):
                with self.subTest(fault=fault, link=link):
                    proc = run_cli("--link", links[link], "history", "alarm")
                    self.assertEqual(proc.returncode, 0, describe(proc))
                    self.assertEqual(self.csv_rows(proc), clean[link])

    def test_slow_answers_on_serial(self):
        # Record answers later than the wait learnt from the count answer: the first record is
        # asked again and every answer comes; only the first becomes a row. Rows then come
        # 3 s apart at first, answers at most 1.5 s apart: the stall guard, shortened to
        # 2.5 s, counts the answers to the repeats as progress.
        links = start_simulator(self, "--history", "4", "--record-delay-ms", "1500")
        proc = run_cli("--link", links["serial"], "history", "alarm", timeout=120,
                       env_extra={"QELN_CLI_STALL_MS": "2500"})
        self.assertEqual(proc.returncode, 0, describe(proc))
        rows = self.csv_rows(proc)
        self.assertEqual([r[0] for r in rows], ["001", "002", "003", "004"])
        stamps = [(r[1], r[2]) for r in rows]
        self.assertEqual(stamps, sorted(set(stamps), reverse=True))

    def test_download_given_up_writes_nothing(self):
        links = start_simulator(self, "--history", "30", "--record-fault", "12:drop:all", "--count-fault", "drop:1")
        for link in ("tcp", "serial"):
            with self.subTest(link=link):
                out = temp_dir(self)
                for name in ("a.xlsx", "a.csv"):
                    proc = run_cli("--link", links[link], "history", "alarm", "--out", os.path.join(out, name),
                                   timeout=120)
                    self.assertEqual(proc.returncode, 1, describe(proc))
                    self.assertIn(b"Please try again", proc.stderr)
                self.assertEqual(os.listdir(out), [])

    def test_out_that_cannot_be_created_sends_nothing(self):
        if os.geteuid() == 0:
            folder = "/proc"  # not even root creates files here
        else:
            folder = temp_dir(self)
            os.chmod(folder, 0o500)
            self.addCleanup(os.chmod, folder, 0o700)
        for name in ("alarms.csv", "alarms.xlsx"):
            with self.subTest(name):
                plant = MiniPlant(self, "tcp", "--registers", json.dumps(REGISTERS))
                proc = run_cli("--link", plant.target, "history", "alarm", "--out", os.path.join(folder, name))
                self.assertEqual(proc.returncode, 2, describe(proc))
                self.assertIn(b"nothing was sent", proc.stderr)
                self.assertEqual(plant.requests(), [])
                self.assertFalse(os.path.exists(os.path.join(folder, name)))

    def test_failures_leave_no_file(self):
        out = temp_dir(self)
        taken = os.path.join(out, "taken.xlsx")
        open(taken, "w").close()
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            refused = s.getsockname()[1]
        cases = [
            ("existing file", 2, [self.links["tcp"], "history", "alarm", "--out", taken]),
            ("no log named", 2, [self.links["tcp"], "history"]),
            ("unknown log", 2, [self.links["tcp"], "history", "events"]),
            ("other extension", 2, [self.links["tcp"], "history", "alarm", "--out", os.path.join(out, "a.xls")]),
            ("missing folder", 2, [self.links["tcp"], "history", "alarm", "--out", os.path.join(out, "no", "a.csv")]),
            ("clear without log", 2, [self.links["tcp"], "clear-history"]),
            ("clear with --out", 2, [self.links["tcp"], "clear-history", "alarm", "--yes", "--out", os.path.join(out, "b.csv")]),
            ("dead link", 1, ["tcp:127.0.0.1:%d" % refused, "history", "alarm", "--out", os.path.join(out, "c.xlsx")]),
            ("dead link clear", 1, ["tcp:127.0.0.1:%d" % refused, "clear-history", "alarm", "--yes"]),
        ]
        for name, code, args in cases:
            with self.subTest(name):
                proc = run_cli("--link", *args)
                self.assertEqual(proc.returncode, code, describe(proc))
                self.assertIn(b"qeln-cli: ", proc.stderr)
        self.assertEqual(os.listdir(out), ["taken.xlsx"])
        with open(taken, "rb") as f:
            self.assertEqual(f.read(), b"")


def suite_main(script, runtime_prefix, need_sim=False):
    """Runs a suite of this folder: --cli (and --sim) from the command line or QELN_CLI /
    QELN_SIM; the counts line at the end."""
    global CLI, SIM
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--cli", default=os.environ.get("QELN_CLI"))
    parser.add_argument("--sim", default=os.environ.get("QELN_SIM"))
    args, rest = parser.parse_known_args()
    if not args.cli or not os.access(args.cli, os.X_OK) or (need_sim and not args.sim):
        print("%s: give --cli PATH%s (or QELN_CLI%s)" % (script, " and --sim PATH" if need_sim else "",
                                                        " and QELN_SIM" if need_sim else ""), file=sys.stderr)
        print("0 passed, 1 failed")
        return 2
    CLI = os.path.abspath(args.cli)
    SIM = os.path.abspath(args.sim) if args.sim else None

    def use_runtime_dir(path):
        global RUNTIME_DIR
        RUNTIME_DIR = path

    return run_suite(rest, runtime_prefix, use_runtime_dir)


def main():
    return suite_main("test_cli.py", "qeln-cli-xdg-")


if __name__ == "__main__":
    sys.exit(main())
