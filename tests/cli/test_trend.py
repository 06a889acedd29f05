#!/usr/bin/python3
"""qeln-cli record, trend list and trend export against a simulated controller (its request log
telling when each status was asked for):

    /usr/bin/python3 tests/cli/test_trend.py --cli build/cli/qeln-cli --sim build/sim/qeln-sim
"""

import argparse
import csv
import datetime
import io
import os
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

from test_serve import wait_for  # the same polling wait

CLI = SIM = None
ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
CHANNELS = (["ac_voltage", "ac_current", "dc_voltage", "load_current", "set_voltage", "rectifier_temperature",
             "battery_temperature", "battery_current", "battery_voltage", "battery_soc"]
            + ["cell_%d" % i for i in range(1, 16)] + ["clock_offset"])


def recorded_times(path):
    """Every status time in the recording (packed minutes are counted by their rows)."""
    db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
    try:
        raw = [t for (t,) in db.execute("SELECT t FROM status")]
        packed = db.execute("SELECT count(*), coalesce(sum(n), 0) FROM chunk").fetchone()
        return raw, packed[1]
    finally:
        db.close()


def cli(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60)


class Simulator:
    def __init__(self, test, *extra):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "requests.log")
        self.proc = subprocess.Popen([SIM, "--tcp-port", "0", "--request-log", self.log, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        test.addCleanup(self.stop)
        self.link = "tcp:" + self.proc.stdout.readline().split()[1]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)

    def status_requests(self):
        """Unix milliseconds of every status read (function 4) the controller received."""
        start = None
        times = []
        with open(self.log) as f:
            for line in f:
                if line.startswith("#"):
                    start = float(re.search(r"start ([0-9.]+) ms", line).group(1))
                    continue
                ms, _, function = line.split()
                if int(function) == 4:
                    times.append(start + float(ms))
        return times


class RecordTest(unittest.TestCase):
    def test_killed_recorder_loses_at_most_a_second(self):
        sim = Simulator(self)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        db = os.path.join(folder.name, "plant.sqlite")
        rec = subprocess.Popen([CLI, "--link", sim.link, "record", "--db", db], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: rec.poll() is None and rec.kill())
        self.assertEqual(rec.stdout.readline().strip(), db)
        count = lambda: len(recorded_times(db)[0]) + recorded_times(db)[1]
        seen = wait_for(count, 30, "a first commit")
        wait_for(lambda: count() > seen, 30, "a second commit")
        # The kill must land well after a commit, where a recorder that commits less often than
        # every second would lose statuses asked for more than a second before it.
        committed = time.monotonic()
        wait_for(lambda: time.monotonic() > committed + 2.5, 10, "a point between commits")
        killed_at = time.time() * 1000
        rec.send_signal(signal.SIGKILL)
        rec.wait(timeout=10)
        sim.stop()

        db_conn = sqlite3.connect(db)
        self.assertEqual(db_conn.execute("PRAGMA integrity_check").fetchone()[0], "ok")
        db_conn.close()
        listing = cli("trend", "list", "--db", db)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        exported = cli("trend", "export", "--db", db)
        self.assertEqual(exported.returncode, 0, exported.stderr)
        # Every status asked for more than a second (and a round trip) before the kill is there,
        # recorded as it was decoded, a few milliseconds after the controller got the request.
        recorded = [datetime.datetime.fromisoformat(row["time"]).timestamp() * 1000
                    for row in csv.DictReader(io.StringIO(exported.stdout))]
        asked = [t for t in sim.status_requests() if t < killed_at - 1300]
        self.assertGreaterEqual(len(asked), 3)
        for t in asked:
            self.assertTrue(any(-50 <= r - t <= 500 for r in recorded), "the status asked for at %d is missing" % t)

    def test_record_refuses_a_file_that_is_not_a_recording(self):
        sim = Simulator(self)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        other = os.path.join(folder.name, "notes.txt")
        with open(other, "w") as f:
            f.write("not a recording\n")
        proc = subprocess.run([CLI, "--link", sim.link, "record", "--db", other], capture_output=True, text=True,
                              timeout=30)
        self.assertEqual(proc.returncode, 2, proc.stderr)
        self.assertIn("not a trend recording", proc.stderr)
        with open(other) as f:
            self.assertEqual(f.read(), "not a recording\n")
        sim.stop()
        self.assertEqual(sim.status_requests(), [], "nothing is sent for a refused file")


class ExportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.db = os.path.join(cls.folder.name, "plant.sqlite")
        sim_test = unittest.TestCase()
        sim = Simulator(sim_test, "--scenario", "ac-fail", "--speed", "60")
        rec = subprocess.Popen([CLI, "--link", sim.link, "record", "--db", cls.db], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        rec.stdout.readline()
        wait_for(lambda: len(recorded_times(cls.db)[0]) + recorded_times(cls.db)[1] >= 5, 30, "five statuses")
        rec.send_signal(signal.SIGINT)
        cls.record_exit = rec.wait(timeout=10)
        sim.stop()
        sim_test.doCleanups()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_record_ends_on_sigint(self):
        self.assertEqual(self.record_exit, 0)

    def test_export_rows(self):
        raw, packed = recorded_times(self.db)
        full = cli("trend", "export", "--db", self.db)
        self.assertEqual(full.returncode, 0, full.stderr)
        rows = list(csv.reader(io.StringIO(full.stdout)))
        self.assertEqual(rows[0], ["time"] + CHANNELS)
        self.assertEqual(len(rows) - 1, len(raw) + packed)
        for row in rows[1:]:
            self.assertRegex(row[0], ISO)
            self.assertEqual(len(row), len(CHANNELS) + 1)
            for cell in row[1:11]:
                float(cell)  # the plant has a battery pack: every channel has a number

        stepped = cli("trend", "export", "--db", self.db, "--step", "10s", "--channels", "dc_voltage,battery_soc")
        self.assertEqual(stepped.returncode, 0, stepped.stderr)
        rows = list(csv.DictReader(io.StringIO(stepped.stdout)))
        self.assertEqual(list(rows[0].keys()), ["time", "dc_voltage", "dc_voltage_min", "dc_voltage_max",
                                                "battery_soc", "battery_soc_min", "battery_soc_max"])
        for row in rows:
            for name in ("dc_voltage", "battery_soc"):
                self.assertLessEqual(float(row[name + "_min"]), float(row[name]))
                self.assertLessEqual(float(row[name]), float(row[name + "_max"]))

    def test_files_and_refusals(self):
        out = os.path.join(self.folder.name, "span.xlsx")
        other = os.path.join(self.folder.name, "other.txt")
        with open(other, "w") as f:
            f.write("hello\n")
        cases = [
            (["trend", "export", "--db", self.db, "--out", out], 0, None),
            (["trend", "export", "--db", self.db, "--out", out], 1, "not replaced"),
            (["trend", "list", "--db", other], 1, "not a trend recording"),
            (["trend", "list", "--db", os.path.join(self.folder.name, "missing.sqlite")], 1, "no such file"),
            (["trend", "export", "--db", self.db, "--step", "5x"], 2, "bad step"),
            (["trend", "export", "--db", self.db, "--channels", "dc_voltage,volume"], 2, "unknown channel"),
            (["trend", "export", "--db", self.db, "--from", "2026-12-08", "--to", "2026-12-07"], 2, "after"),
            (["trend", "export", "--db", self.db, "--out", "span.ods"], 2, ".csv or .xlsx"),
            (["trend"], 2, "list or export"),
            (["--link", "tcp:127.0.0.1:1", "trend", "list", "--db", self.db], 2, "not a controller"),
        ]
        for args, code, message in cases:
            with self.subTest(args=args):
                proc = cli(*args)
                self.assertEqual(proc.returncode, code, proc.stderr)
                if message:
                    self.assertIn(message, proc.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(2), b"PK")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    args, rest = parser.parse_known_args()
    CLI, SIM = os.path.abspath(args.cli), os.path.abspath(args.sim)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
