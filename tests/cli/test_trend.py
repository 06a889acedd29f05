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
CHANNELS = (["ac_voltage_volts", "ac_current_amperes", "dc_voltage_volts", "load_current_amperes", "set_voltage_volts",
             "rectifier_temperature_celsius", "battery_temperature_celsius", "battery_current_amperes",
             "battery_voltage_volts", "battery_soc_percent"]
            + ["cell_%d_volts" % i for i in range(1, 16)] + ["clock_offset_seconds"])


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


def record(sim, db, env=None):
    """qeln-cli record into db; returns the process once it has named the file."""
    rec = subprocess.Popen([CLI, "--link", sim.link, "record", "--db", db], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, env=env)
    assert rec.stdout.readline().strip() == db
    return rec


def count(db):
    raw, packed = recorded_times(db)
    return len(raw) + packed


def export_times(db):
    exported = cli("trend", "export", "--db", db, "--channels", "dc_voltage")
    assert exported.returncode == 0, exported.stderr
    return [datetime.datetime.fromisoformat(row["time"]).timestamp() * 1000
            for row in csv.DictReader(io.StringIO(exported.stdout))]


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

    def test_one_recorder_per_file(self):
        # A second recorder on the same file (another console on the same output folder) is
        # refused before it sends anything, naming the one recording; reading goes on.
        sim = Simulator(self)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        db = os.path.join(folder.name, "plant.sqlite")
        rec = record(sim, db)
        self.addCleanup(lambda: rec.poll() is None and rec.kill())
        wait_for(lambda: count(db) > 0, 30, "a first commit")
        second = subprocess.run([CLI, "--link", sim.link, "record", "--db", db], capture_output=True, text=True,
                                timeout=30)
        self.assertEqual(second.returncode, 2, second.stderr)
        self.assertIn("is being recorded by qeln-cli (process %d on " % rec.pid, second.stderr)
        listing = cli("trend", "list", "--db", db)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        rec.send_signal(signal.SIGINT)
        self.assertEqual(rec.wait(timeout=10), 0)
        # Once it has stopped, the file takes a recorder again.
        again = record(sim, db)
        seen = count(db)
        wait_for(lambda: count(db) > seen, 30, "the next recorder's commit")
        again.send_signal(signal.SIGINT)
        self.assertEqual(again.wait(timeout=10), 0)
        again.stderr.close()
        rec.stderr.close()

    def test_clock_set_back(self):
        # The computer's clock goes back an hour while recording: the export stays in time
        # order and the recording knows which status came last.
        sim = Simulator(self)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        db = os.path.join(folder.name, "plant.sqlite")
        offset = os.path.join(folder.name, "offset")
        with open(offset, "w") as f:
            f.write("+0\n")
        env = dict(os.environ, LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                   FAKETIME_TIMESTAMP_FILE=offset, FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
        rec = record(sim, db, env)
        self.addCleanup(lambda: rec.poll() is None and rec.kill())
        wait_for(lambda: count(db) >= 3, 30, "three statuses")
        start = min(export_times(db))
        with open(offset, "w") as f:
            f.write("-3600\n")
        wait_for(lambda: sum(1 for t in export_times(db) if t < start - 1800_000) >= 3, 30,
                 "three statuses an hour back")
        rec.send_signal(signal.SIGINT)
        self.assertEqual(rec.wait(timeout=10), 0)
        rec.stderr.close()
        times = export_times(db)
        self.assertEqual(times, sorted(times))
        listing = cli("trend", "list", "--db", db)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        last = re.search(r"^last written: (\S+)$", listing.stdout, re.M)
        self.assertTrue(last, listing.stdout)
        last = datetime.datetime.fromisoformat(last.group(1)).timestamp() * 1000
        self.assertLess(last, start - 1800_000)
        self.assertGreater(max(times), start)

    def test_one_recording_per_controller_whatever_the_link(self):
        # One controller recorded over TCP, then over its serial line (the simulator's
        # pseudo-terminal): one file, named by the serial number its network block gives,
        # holding the statuses of both connections.
        sim = Simulator(self, "--pty")
        device = sim.proc.stdout.readline().split()[1]
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        seen = 0
        for link in (sim.link, "serial:" + device):
            rec = subprocess.Popen([CLI, "--link", link, "record"], cwd=folder.name, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
            self.addCleanup(lambda r=rec: r.poll() is None and r.kill())
            path = rec.stdout.readline().strip()
            self.assertEqual(os.path.basename(path), "QELN-2KN_2200000001.trend.sqlite", rec.stderr)
            wait_for(lambda: count(path) > seen + 3, 30, "statuses recorded over " + link)
            rec.send_signal(signal.SIGINT)
            self.assertEqual(rec.wait(timeout=10), 0)
            rec.stdout.close()
            rec.stderr.close()
            seen = count(path)
        trends = os.path.join(folder.name, "trends")
        self.assertEqual([f for f in os.listdir(trends) if f.endswith(".trend.sqlite")],
                         ["QELN-2KN_2200000001.trend.sqlite"])

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

        stepped = cli("trend", "export", "--db", self.db, "--step", "10s", "--channels", "dc_voltage,battery_soc,cell_1")
        self.assertEqual(stepped.returncode, 0, stepped.stderr)
        rows = list(csv.DictReader(io.StringIO(stepped.stdout)))
        self.assertEqual(list(rows[0].keys()), ["time", "dc_voltage_volts", "dc_voltage_min_volts", "dc_voltage_max_volts",
                                                "battery_soc_percent", "battery_soc_min_percent",
                                                "battery_soc_max_percent", "cell_1_volts", "cell_1_min_volts",
                                                "cell_1_max_volts"])
        # Means at the resolution the status page shows: tenths of a volt, whole percent,
        # hundredths of a cell's volt.
        for row in rows:
            for name, unit, decimals in (("dc_voltage", "volts", 1), ("battery_soc", "percent", 0),
                                         ("cell_1", "volts", 2)):
                mean = row["%s_%s" % (name, unit)]
                self.assertLessEqual(float(row["%s_min_%s" % (name, unit)]), float(mean))
                self.assertLessEqual(float(mean), float(row["%s_max_%s" % (name, unit)]))
                self.assertEqual(float(mean), round(float(mean), decimals), mean)

    def test_files_and_refusals(self):
        out = os.path.join(self.folder.name, "span.xlsx")
        other = os.path.join(self.folder.name, "other.txt")
        with open(other, "w") as f:
            f.write("hello\n")
        cases = [
            (["trend", "export", "--db", self.db, "--out", out], 0, None),
            (["trend", "export", "--db", self.db, "--out", out], 2, "no file is overwritten"),
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

    def test_workbook(self):
        # Times are date-times of the local clock (the zone in the header), numbers are numbers.
        import openpyxl
        out = os.path.join(self.folder.name, "book.xlsx")
        proc = cli("trend", "export", "--db", self.db, "--out", out, "--channels", "dc_voltage,battery_soc")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        sheet = openpyxl.load_workbook(out).active
        header = [c.value for c in sheet[1]]
        self.assertRegex(header[0], r"^time \(UTC[+-]\d\d:\d\d\)$")
        self.assertEqual(header[1:], ["dc_voltage_volts", "battery_soc_percent"])
        csv_rows = list(csv.reader(io.StringIO(cli("trend", "export", "--db", self.db, "--channels",
                                                   "dc_voltage,battery_soc").stdout)))[1:]
        self.assertEqual(sheet.max_row - 1, len(csv_rows))
        for cells, text in zip(sheet.iter_rows(min_row=2), csv_rows):
            self.assertIsInstance(cells[0].value, datetime.datetime)
            self.assertIn("ss", cells[0].number_format)
            local = datetime.datetime.fromisoformat(text[0]).replace(tzinfo=None)
            self.assertLess(abs((cells[0].value - local).total_seconds()), 0.002)
            self.assertEqual(cells[1].value, float(text[1]))
            self.assertIsInstance(cells[2].value, (int, float))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    args, rest = parser.parse_known_args()
    CLI, SIM = os.path.abspath(args.cli), os.path.abspath(args.sim)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
