#!/usr/bin/python3
"""qeln-cli ip show / ip apply against the simulated controller (qeln-sim, run with --trace so
every IP-settings write it received can be checked byte for byte).

    /usr/bin/python3 tests/cli/test_cli_ip.py --cli build/cli/qeln-cli --sim build/sim/qeln-sim
"""

import json
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
import test_cli as base  # noqa: E402
from test_cli import describe, run_cli, temp_dir  # noqa: E402
from test_cli_settings import FRAME, Simulator  # noqa: E402

LINKS = ("serial", "tcp")

# The simulated controller's block as it starts.
DEFAULT = {
    "mac": "00.1A.3A.E0.00.01", "ip": "192.168.50.92", "mask": "255.255.255.0", "gateway": "192.168.50.1",
    "hw_description": "QELN 정류기 54V/37A;PSU_6S;", "serial_number": "2200000001", "hw_version": "0.0.0.1",
    "rectifier_id": "00000001", "site": "서울 국사 3층 QELN", "saved_ip": "192.168.50.92",
    "saved_mac": "00.1A.3A.E0.00.01", "saved_ip_mac": "00.1A.3A.E0.00.01", "saved_rectifier_id": "00000001",
    "firmware": "V01.02.00.05(20230615)",
}


def write_block(mac, ip, mask, gateway, flags, description, serial, hw_version, rectifier_id, site):
    """The write block from its offsets table."""
    return (bytes.fromhex("12345678") + mac + ip + mask + gateway + bytes([flags]) + ip + bytes(4)
            + bytes([len(description)]) + description + serial + b"; " + hw_version + mac + bytes(12)
            + rectifier_id.to_bytes(4, "big") + bytes(12) + bytes([len(site)]) + site)


def dotted(text):
    return bytes(int(p) for p in text.split("."))


def ip_writes(sim):
    """Every IP-settings block the simulator was sent, in order."""
    out = []
    with open(sim.errpath, encoding="utf-8", errors="replace") as f:
        for link, text in FRAME.findall(f.read()):
            data = bytes.fromhex(text)
            if link == "serial" and data[1] == 0x23:
                out.append(data[4:-1])  # unit, function, "0000" before; LRC after
            elif link == "tcp" and data[7] == 0x42:
                out.append(data[8:])
    return out


def show(target):
    proc = run_cli("--link", target, "ip", "show", "--json")
    assert proc.returncode == 0, describe(proc)
    return json.loads(proc.stdout)


class IpTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(self)

    def test_show_on_both_links(self):
        for link in LINKS:
            with self.subTest(link=link):
                self.assertEqual(show(self.sim.links[link]), DEFAULT)
        text = run_cli("--link", self.sim.links["serial"], "ip", "show")
        self.assertEqual(text.returncode, 0, describe(text))
        self.assertIn("hw_description: QELN 정류기 54V/37A;PSU_6S;\n".encode(), text.stdout)
        self.assertIn(b"rectifier_id: 00000001\n", text.stdout)

    def test_round_trip(self):
        # Written over one link, read back over the other.
        cases = {
            "serial": {"mac": "02.00.5e.00.00.0A", "ip": "10.1.2.08", "mask": "255.255.0.0",
                       "gateway": "10.1.0.1", "hw_description": "랙 3\n둘째 줄", "serial_number": "2300000042;",
                       "hw_version": "1.2.3.4", "rectifier_id": "fffffffe", "site": "부산 지사 B"},
            "tcp": {"mac": "00.1A.3A.E0.00.07", "ip": "172.16.0.5", "mask": "255.255.255.128",
                    "gateway": "172.16.0.1", "hw_description": "X", "serial_number": "가나다라마",
                    "hw_version": "0.0.0.2", "rectifier_id": "0", "site": ""},
        }
        expected_shown = {
            "serial": {"mac": "02.00.5E.00.00.0A", "ip": "10.1.2.8", "serial_number": "2300000042",
                       "rectifier_id": "FFFFFFFE"},
            "tcp": {"rectifier_id": "00000000"},
        }
        for link, values in cases.items():
            with self.subTest(link=link):
                before = len(ip_writes(self.sim))
                shown_before = show(self.sim.links[link])
                proc = run_cli("--link", self.sim.links[link], "ip", "apply",
                               *("%s=%s" % kv for kv in values.items()))
                self.assertEqual(proc.returncode, 0, describe(proc))
                self.assertIn(b"written; every field reads back as written\n", proc.stdout)
                self.assertIn(("site: %s -> %s\n" % (shown_before["site"], values["site"])).encode(), proc.stdout)
                writes = ip_writes(self.sim)[before:]
                self.assertEqual(len(writes), 1, writes)
                block = writes[0]
                n = block[31]
                self.assertEqual(block[22], 0x7F)  # every item's bit, bit 7 clear
                self.assertEqual(len(block), 83 + n + block[82 + n])
                self.assertEqual(block[32:32 + n], values["hw_description"].replace("\n", "\r\n").encode("cp949"))
                other = "tcp" if link == "serial" else "serial"
                got = show(self.sim.links[other])
                for key, value in values.items():
                    self.assertEqual(got[key], expected_shown[link].get(key, value), key)
                self.assertEqual(got["saved_ip"], got["ip"])

    def test_bad_values_send_nothing(self):
        cases = [
            ("ip=256.1.1.1", "does not fit in one byte"),
            ("gateway=1.2.3", "is not 4 parts"),
            ("mask=255.255.255.x", "'x' is not a valid integer value"),
            ("mac=00.1A.3A.E0.00.1G", "'1G' is not a valid integer value"),
            ("mac=00.1A.3A.E0.00.100", "100 is above FF"),
            ("rectifier_id=123456789", "more than 8 hexadecimal digits"),
            ("rectifier_id=0x12", "is not a valid integer value"),
            ("serial_number=220000001", "it must be exactly 10"),
            ("serial_number=가나다라마바", "is 12 bytes"),
            ("hw_description=눈사람 ☃", "cannot be written in the controller's code page"),
            ("site=" + "가" * 86, "at most 255 fit"),
            ("saved_ip=1.2.3.4", "read-only"),
            ("colour=blue", "unknown key"),
            # Fits on its own, but not beside the site text already in the controller: known
            # only once the block has been read.
            ("hw_description=" + "d" * 150, "at most 253 can be sent"),
        ]
        for link in LINKS:
            for arg, message in cases:
                with self.subTest(link=link, arg=arg[:40]):
                    proc = run_cli("--link", self.sim.links[link], "ip", "apply", "ip=10.0.0.1", arg)
                    self.assertEqual(proc.returncode, 2, describe(proc))
                    self.assertIn(message.encode(), proc.stderr)
                    self.assertIn(b"nothing was sent", proc.stderr.lower())
        self.assertEqual(ip_writes(self.sim), [])
        self.assertEqual(show(self.sim.links["tcp"]), DEFAULT)

    def test_dry_run_prints_the_block(self):
        for link in LINKS:
            with self.subTest(link=link):
                proc = run_cli("--link", self.sim.links[link], "ip", "apply", "ip=10.0.0.08", "rectifier_id=abcd",
                               "mask=255.0.0.0", "--dry-run")
                self.assertEqual(proc.returncode, 0, describe(proc))
                expected = write_block(
                    bytes.fromhex("001A3AE00001"), dotted("10.0.0.8"), dotted("255.0.0.0"), dotted("192.168.50.1"),
                    0x21, DEFAULT["hw_description"].encode("cp949"), b"2200000001", dotted("0.0.0.1"), 0xABCD,
                    DEFAULT["site"].encode())
                self.assertEqual(proc.stdout.decode().strip(), expected.hex().upper())
        self.assertEqual(ip_writes(self.sim), [])

    def test_file_from_show_json(self):
        doc = show(self.sim.links["tcp"])
        doc["site"] = "대전 센터"
        doc["rectifier_id"] = "FFFFFFFE"
        path = os.path.join(temp_dir(self), "ip.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(doc, f, ensure_ascii=False)
        # The command line wins over the file.
        proc = run_cli("--link", self.sim.links["serial"], "ip", "apply", "--file", path, "rectifier_id=1")
        self.assertEqual(proc.returncode, 0, describe(proc))
        writes = ip_writes(self.sim)
        self.assertEqual(len(writes), 1)
        self.assertEqual(writes[0][22], 0x7F)  # every writable key of the file is selected
        got = show(self.sim.links["serial"])
        self.assertEqual(got, dict(DEFAULT, site="대전 센터", rectifier_id="00000001"))

    def test_bad_files_send_nothing(self):
        folder = temp_dir(self)
        twice = os.path.join(folder, "twice.json")
        with open(twice, "w") as f:
            f.write('{"ip": "10.0.0.1", "site": "A", "ip": "10.0.0.2"}')
        read_only = os.path.join(folder, "read-only.json")
        with open(read_only, "w") as f:
            json.dump({"saved_ip": "1.2.3.4", "firmware": "x"}, f)
        big = os.path.join(folder, "big.json")
        with open(big, "wb") as f:
            f.truncate(1024 * 1024 + 1)
        cases = [
            (twice, b"the key 'ip' is given twice"),
            (read_only, b"nothing to change"),
            ("/dev/zero", b"'/dev/zero' goes on past 1 MB"),
            (big, b"is 1048577 bytes; a file over 1 MB is not read"),
        ]
        for path, message in cases:
            with self.subTest(path=os.path.basename(path)):
                proc = run_cli("--link", self.sim.links["tcp"], "ip", "apply", "--file", path)
                self.assertEqual(proc.returncode, 2, describe(proc))
                self.assertIn(message, proc.stderr)
                # One prefix, one "nothing was sent".
                self.assertEqual(proc.stderr.count(b"ip apply:"), 1, proc.stderr)
                self.assertEqual(proc.stderr.lower().count(b"nothing was sent"), 1, proc.stderr)
        self.assertEqual(ip_writes(self.sim), [])


class UnchangedBytesTest(unittest.TestCase):
    """A description the controller holds with CR CR LF and a byte that is no CP949: writing
    only the IP sends both texts back as the very bytes read."""

    DESCRIPTION = b"Rack 3\r\r\nPSU\xff;"
    SERIAL = b"2200\x0000001"

    def test_only_the_ip_changes_on_the_wire(self):
        block = (bytes(2) + bytes.fromhex("001A3AE00009") + dotted("10.0.0.9") + dotted("255.255.255.0")
                 + dotted("10.0.0.1") + bytes([0]) + dotted("10.0.0.9") + bytes(4)
                 + bytes([len(self.DESCRIPTION)]) + self.DESCRIPTION + self.SERIAL + b"; " + dotted("0.0.0.1")
                 + bytes.fromhex("001A3AE00009") * 2 + bytes(6) + (7).to_bytes(4, "big") * 2 + bytes(8)
                 + bytes([4]) + b"Site")
        for link in LINKS:
            with self.subTest(link=link):
                sim = Simulator(self, "--ip-block", block.hex())
                proc = run_cli("--link", sim.links[link], "ip", "apply", "ip=10.0.0.10")
                writes = ip_writes(sim)
                self.assertEqual(len(writes), 1, describe(proc))
                self.assertEqual(writes[0], write_block(
                    bytes.fromhex("001A3AE00009"), dotted("10.0.0.10"), dotted("255.255.255.0"), dotted("10.0.0.1"),
                    0x01, self.DESCRIPTION, self.SERIAL, dotted("0.0.0.1"), 7, b"Site"))


class CutShortTest(unittest.TestCase):
    """A controller whose description length points past the end of its 150-byte answer."""

    def setUp(self):
        block = (bytes(2) + bytes.fromhex("001A3AE00009") + dotted("10.0.0.9") + dotted("255.255.255.0")
                 + dotted("10.0.0.1") + bytes([0, 10, 0, 0, 9]) + bytes(4) + bytes([200]) + b"D" * 120)
        self.links = base.start_simulator(self, "--ip-block", block.hex())

    def test_show_reports_what_is_missing(self):
        for link in LINKS:
            with self.subTest(link=link):
                proc = run_cli("--link", self.links[link], "ip", "show", "--json")
                self.assertEqual(proc.returncode, 1, describe(proc))
                got = json.loads(proc.stdout)
                self.assertEqual((got["mac"], got["ip"], got["saved_ip"]), ("00.1A.3A.E0.00.09", "10.0.0.9", "10.0.0.9"))
                self.assertIsNone(got["hw_description"])
                self.assertIsNone(got["site"])
                self.assertIn(b"cut short (150 bytes); not received: hw_description, serial_number", proc.stderr)

    def test_apply_refuses_and_sends_nothing(self):
        proc = run_cli("--link", self.links["serial"], "ip", "apply", "ip=10.0.0.10")
        self.assertEqual(proc.returncode, 2, describe(proc))
        self.assertIn(b"cut short and lacks hw_description, serial_number, hw_version, rectifier_id, site",
                      proc.stderr)
        # A write would have replaced the odd block with the plant's own.
        proc = run_cli("--link", self.links["tcp"], "ip", "show", "--json")
        self.assertEqual(json.loads(proc.stdout)["ip"], "10.0.0.9")


def main():
    return base.suite_main("test_cli_ip.py", "qeln-cli-ip-xdg-", need_sim=True)


if __name__ == "__main__":
    sys.exit(main())
