#!/usr/bin/python3
"""qeln-cli settings, clock, calibrate and factory against the simulated controller (qeln-sim,
run with --trace so every frame it received can be checked) and the small stand-in
tests/peers/miniplant.py (a controller that keeps its status while it acknowledges writes,
or refuses one register).

    /usr/bin/python3 tests/cli/test_cli_settings.py --cli build/cli/qeln-cli --sim build/sim/qeln-sim
"""

import json
import os
import re
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
import test_cli as base  # noqa: E402
from test_cli import MiniPlant, describe, run_cli, temp_dir  # noqa: E402

LINKS = ("serial", "tcp")
FRAME = re.compile(r"qeln-sim: (tcp|serial)< :?([0-9A-Fa-f]+)")


class Simulator:
    """qeln-sim on a pty and a TCP port, logging the frames it receives."""

    def __init__(self, testcase, *extra):
        self.errpath = os.path.join(temp_dir(testcase), "sim.stderr")
        with open(self.errpath, "wb") as err:
            proc = subprocess.Popen(
                [base.SIM, "--tcp-port", "0", "--pty", "--trace", "--seed", "7", "--clock", "2026-03-04T05:06:07",
                 *extra],
                stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL)
        testcase.addCleanup(base.stop_process, proc)
        self.links = {}
        deadline = time.monotonic() + 20
        while len(self.links) < 2:
            line = proc.stdout.readline().decode().strip() if time.monotonic() < deadline else ""
            if not line:
                raise AssertionError("qeln-sim did not start")
            kind, _, where = line.partition(" ")
            self.links[kind] = kind + ":" + where

    def writes(self):
        """Every write (register, value) the simulator received, in order."""
        out = []
        with open(self.errpath, encoding="utf-8", errors="replace") as f:
            for link, text in FRAME.findall(f.read()):
                data = bytes.fromhex(text)
                pdu = data[7:] if link == "tcp" else data[1:]
                if len(pdu) >= 5 and pdu[0] == 6:
                    out.append((int.from_bytes(pdu[1:3], "big"), int.from_bytes(pdu[3:5], "big")))
        return out


def registers(target):
    proc = run_cli("--link", target, "status", "--json")
    assert proc.returncode == 0, describe(proc)
    return json.loads(proc.stdout)["registers"]


class SettingsTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(self)

    def written_since(self, mark):
        return self.sim.writes()[mark:]

    def test_show_json_fed_back_writes_nothing(self):
        for link in LINKS:
            with self.subTest(link=link):
                target = self.sim.links[link]
                show = run_cli("--link", target, "settings", "show", "--json")
                self.assertEqual(show.returncode, 0, describe(show))
                doc = json.loads(show.stdout)
                self.assertEqual(doc["dc_undervoltage"]["value"], 46)
                self.assertEqual(doc["charge_mode"]["value"], "출력전압모드")
                self.assertEqual(doc["contact_1_alarms"]["value"], ["ac_input_fail"])
                path = os.path.join(temp_dir(self), "site.json")
                with open(path, "wb") as f:
                    f.write(show.stdout)
                for command in ("diff", "apply"):
                    proc = run_cli("--link", target, "settings", command, path)
                    self.assertEqual(proc.returncode, 0, describe(proc))
                    self.assertTrue(proc.stdout.startswith(b"no changes; nothing"), proc.stdout)
                text = run_cli("--link", target, "settings", "show")
                self.assertEqual(text.returncode, 0, describe(text))
                self.assertRegex(text.stdout.decode(), r"\ndc_undervoltage +46\.0 +V +43\.0\.\.50\.0\n")
        self.assertEqual(self.sim.writes(), [])

    def test_changes_write_exactly_their_writes_and_read_back(self):
        for link, volts in (("serial", "46.5"), ("tcp", "47.2")):
            with self.subTest(link=link):
                target = self.sim.links[link]
                mark = len(self.sim.writes())
                proc = run_cli("--link", target, "settings", "apply", "dc_undervoltage=" + volts)
                self.assertEqual(proc.returncode, 0, describe(proc))
                tenths = int(volts.replace(".", ""))
                self.assertEqual(self.written_since(mark), [(56, tenths)])
                self.assertIn(b" Setting Sucess!!\nread back: 1/1 registers hold the values written\n", proc.stdout)
                self.assertEqual(registers(target)[56 - 1], tenths)
        # Several dialogs at once: the contacts first, the alarm test last, masks before its switch.
        target = self.sim.links["serial"]
        doc = {"alarm_test": "사용", "alarm_test_alarms": ["battery_disconnect"], "dc_undervoltage": 46,
               "contact_normal_state": {"value": "정상 Close"}, "contact_5_alarms": ["module_fail"],
               "discharge_test_period": 3, "battery_use": None}
        path = os.path.join(temp_dir(self), "site.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(doc, f, ensure_ascii=False)
        diff = run_cli("--link", target, "settings", "diff", path)
        self.assertEqual(diff.returncode, 0, describe(diff))
        self.assertIn("alarm_test: 미사용 -> 사용\n".encode(), diff.stdout)
        mark = len(self.sim.writes())
        proc = run_cli("--link", target, "settings", "apply", path)
        self.assertEqual(proc.returncode, 0, describe(proc))
        expected = [(89, 0), (88, 0x100), (70, 1), (74, 3), (56, 460), (73, 0x8080), (72, 0x40), (71, 1)]
        self.assertEqual(self.written_since(mark), expected)
        self.assertIn(b"writes: 89=0 88=256 70=1 74=3 56=460 73=32896 72=64 71=1\n", diff.stdout)
        self.assertIn(b"read back: 8/8 registers", proc.stdout)

    def test_bad_input_exits_2_and_sends_nothing(self):
        missing = os.path.join(temp_dir(self), "missing.json")
        broken = os.path.join(temp_dir(self), "broken.json")
        with open(broken, "w") as f:
            f.write('{"dc_undervoltage": ')
        cases = [
            ["settings", "apply", "dc_low=46"],
            ["settings", "apply", "dc_undervoltage=99.9"],
            ["settings", "apply", "dc_undervoltage=abc"],
            ["settings", "apply", "charge_mode=2"],
            ["settings", "apply", "contact_2_alarms=ac_input_fail,no_such_alarm"],
            ["settings", "apply", "dc_undervoltage=46.5", "battery_low_voltage=60"],
            ["settings", "apply", missing],
            ["settings", "diff", broken],
            ["settings", "apply"],
            ["clock", "set", "2026-13-01T00:00:00"],
            ["clock", "set", "2026-02-29T00:00:00"],
            ["clock", "set", "2026-03-04T24:00:00"],
            ["clock", "set", "2026-03-04 05:06:07"],
            ["calibrate", "dc_current=123.45"],
            ["calibrate", "no_such_item=1"],
            ["factory", "reset"],
            ["factory", "config"],
        ]
        for args in cases:
            with self.subTest(args=args):
                proc = run_cli("--link", self.sim.links["serial"], *args)
                self.assertEqual(proc.returncode, 2, describe(proc))
                self.assertIn(b"qeln-cli: ", proc.stderr)
                self.assertNotIn(b"Sucess", proc.stdout)
        proc = run_cli("--link", self.sim.links["serial"], "factory", "reset")
        self.assertIn(b"add --yes", proc.stderr)
        self.assertEqual(self.sim.writes(), [])

    def test_file_and_value_refusals(self):
        folder = temp_dir(self)

        def document(name, text):
            path = os.path.join(folder, name)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            return path
        big = document("big.json", "")
        os.truncate(big, 1024 * 1024 + 1)
        cases = [
            # Finer than the register keeps: refused naming the step, never cut.
            (["charge_current_limit=3.99"], b"charge_current_limit: 3.99 A: this setting takes steps of 0.1 A"),
            (["output_voltage=54.05"], b"output_voltage: 54.05 V: this setting takes steps of 0.1 V"),
            (["charge_current_limit=0.05"], b"0.05 A: this setting takes steps of 0.1 A"),
            ([document("step.json", '{"dc_overvoltage": 57.25}')], b"57.25 V: this setting takes steps of 0.1 V"),
            ([document("twice.json", '{"dc_undervoltage": 46, "ac_overvoltage": 280, "dc_undervoltage": 47}')],
             b"the key 'dc_undervoltage' is given twice"),
            (["/dev/zero"], b"'/dev/zero' goes on past 1 MB; a file over 1 MB is not read"),
            ([big], b"is 1048577 bytes; a file over 1 MB is not read"),
            # The bounds of the charge mode the controller has, as the file leaves it.
            (["output_voltage=58"], b"58 is outside 43.0..56.0"),
        ]
        for link in LINKS:
            for args, message in cases:
                with self.subTest(link=link, args=args):
                    proc = run_cli("--link", self.sim.links[link], "settings", "apply", *args)
                    self.assertEqual(proc.returncode, 2, describe(proc))
                    self.assertIn(message, proc.stderr)
                    self.assertEqual(proc.stderr.count(b"nothing was sent"), 1, proc.stderr)
        self.assertEqual(self.sim.writes(), [])
        # One decimal is what the register keeps: written as given.
        proc = run_cli("--link", self.sim.links["tcp"], "settings", "apply", "charge_current_limit=3.9")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(self.sim.writes(), [(63, 39)])

    def test_bounds_after_the_whole_file(self):
        # 58 V lies outside the present mode's bounds, inside those of the mode the file sets.
        path = os.path.join(temp_dir(self), "test-mode.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"output_voltage": 58, "charge_mode": "TEST 모드", "charge_current_limit": 0}, f, ensure_ascii=False)
        proc = run_cli("--link", self.sim.links["serial"], "settings", "apply", path)
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(self.sim.writes(), [(64, 3), (63, 0), (60, 580)])
        # The limit now off reads "0", as the dialog shows it.
        show = run_cli("--link", self.sim.links["tcp"], "settings", "show")
        self.assertRegex(show.stdout.decode(), r"\ncharge_current_limit +0 +A ")
        self.assertRegex(show.stdout.decode(), r"\noutput_voltage +58\.0 +V +42\.0\.\.60\.0\n")

    def test_clock_calibrate_factory(self):
        target = self.sim.links["tcp"]
        proc = run_cli("--link", target, "clock", "set", "2027-06-15T10:20:30")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(self.sim.writes(), [(5, 20), (4, 10), (3, 15), (2, 6), (1, 2027), (6, 30)])
        clock = registers(self.sim.links["serial"])[:6]
        self.assertEqual(clock[:5], [2027, 6, 15, 10, 20])
        self.assertIn(clock[5], range(30, 34))

        mark = len(self.sim.writes())
        proc = run_cli("--link", target, "calibrate", "dc_current=18.5", "ac_voltage=0")
        self.assertEqual(proc.returncode, 0, describe(proc))
        proc = run_cli("--link", target, "factory", "config", "--yes")
        self.assertEqual(proc.returncode, 0, describe(proc))
        self.assertEqual(self.written_since(mark), [(51, 18500), (127, 2)])

    def test_refused_write_exits_1_at_once(self):
        # The plant's clock takes the years 2000..2099; the console's range goes to 2999.
        for link in LINKS:
            with self.subTest(link=link):
                proc = run_cli("--link", self.sim.links[link], "clock", "set", "2150-01-01T00:00:00")
                self.assertEqual(proc.returncode, 1, describe(proc))
                self.assertIn(b"refused the write of register 1 (value 2150)", proc.stderr)
                self.assertLess(proc.elapsed, 2.5, describe(proc))

    def test_help_lists_every_key(self):
        show = run_cli("--link", self.sim.links["serial"], "settings", "show", "--json")
        self.assertEqual(show.returncode, 0, describe(show))
        keys = json.loads(show.stdout)
        proc = run_cli("settings", "--help")
        self.assertEqual(proc.returncode, 0, describe(proc))
        text = proc.stdout.decode()
        for key, item in keys.items():
            self.assertRegex(text, r"\n%s +%s" % (key, re.escape(item.get("unit", ""))))
        self.assertIn("42.0..60.0 in \"TEST 모드\"", text)


class StandInTest(unittest.TestCase):
    """Controllers that do not do what they acknowledge, or refuse."""

    def setUp(self):
        sim = Simulator(self)
        self.status = json.dumps(registers(sim.links["serial"]))

    def test_value_not_held_is_reported(self):
        plant = MiniPlant(self, "tcp", "--registers", self.status)
        proc = run_cli("--link", plant.target, "settings", "apply", "dc_undervoltage=46.5", "ac_undervoltage=180")
        self.assertEqual(proc.returncode, 1, describe(proc))
        self.assertIn(b"register 56 (dc_undervoltage): wrote 465, reads back 460\n", proc.stderr)
        self.assertIn(b"register 54 (ac_undervoltage): wrote 180, reads back 170\n", proc.stderr)
        self.assertIn(b"2 of 2 written registers", proc.stderr)

    def test_refusal_ends_apply_at_once(self):
        plant = MiniPlant(self, "serial", "--registers", self.status, "--refuse", "56")
        proc = run_cli("--link", plant.target, "settings", "apply", "dc_undervoltage=46.5", "ac_undervoltage=180")
        self.assertEqual(proc.returncode, 1, describe(proc))
        self.assertIn(b"refused the write of register 56 (value 465)", proc.stderr)
        self.assertNotIn(b"read back", proc.stdout)
        self.assertLess(proc.elapsed, 2.5, describe(proc))
        writes = [r for r in plant.requests() if r.startswith(b":0106")]
        self.assertEqual(len(writes), 1, writes)  # 56 goes first; 54 is never sent


def main():
    return base.suite_main("test_cli_settings.py", "qeln-cli-settings-xdg-", need_sim=True)


if __name__ == "__main__":
    sys.exit(main())
