#!/usr/bin/python3
"""The files of deploy/ with the real parts: promtool on the Prometheus config and alert rules,
the example config read by qeln-cli serve, and Debian's prometheus server scraping serve in front
of a simulated fleet (20 controllers, 2 dead, 2 slow), asked through its HTTP API on loopback:

    /usr/bin/python3 tests/cli/test_prometheus.py --cli build/cli/qeln-cli --sim build/sim/qeln-sim
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_serve  # noqa: E402  the fleet and serve helpers
from test_serve import Fleet, Serve, free_port, wait_for  # noqa: E402

DEPLOY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "deploy")
CLI = SIM = None

# Series a controller keeps while it is down; every other one is a measurement, alarm or contact.
KEPT_WHILE_DOWN = ("qeln_up|qeln_info|qeln_requests_total|qeln_last_success_timestamp_seconds"
                   "|qeln_poll_duration_seconds_(bucket|sum|count)|qeln_poll_interval_seconds"
                   "|qeln_alarm_last_change_timestamp_seconds"
                   # Prometheus's own record of the alert that the controller is down, once its
                   # rules have been evaluated (sooner or later, as the machine is loaded).
                   "|ALERTS|ALERTS_FOR_STATE")


def promtool(*args, cwd=None):
    return subprocess.run(["promtool", *args], capture_output=True, text=True, timeout=60, cwd=cwd)


def dashboard_queries(path):
    """Every expr of the dashboard's panels (rows' nested panels too)."""
    with open(path) as f:
        dashboard = json.load(f)
    out = []

    def walk(panels):
        for panel in panels:
            for target in panel.get("targets", []):
                if target.get("expr"):
                    out.append((panel["title"], target["expr"]))
            walk(panel.get("panels", []))
    walk(dashboard["panels"])
    return dashboard, out


class DeployFilesTest(unittest.TestCase):
    def test_promtool_config_and_rules(self):
        with tempfile.TemporaryDirectory() as d:
            # rule_files is relative to the config: the pair is checked as installed together.
            for name in ("prometheus.yml", "alerts.yml"):
                shutil.copy(os.path.join(DEPLOY, "prometheus", name), d)
            for args in (("check", "config", "prometheus.yml"), ("check", "rules", "alerts.yml")):
                with self.subTest(args=args):
                    check = promtool(*args, cwd=d)
                    self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        check = promtool("test", "rules", "alerts_test.yml", cwd=os.path.join(DEPLOY, "prometheus"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        # Every rule of alerts.yml has a unit test.
        with open(os.path.join(DEPLOY, "prometheus", "alerts.yml")) as f:
            rules = set(re.findall(r"^\s*- alert: (\w+)", f.read(), re.M))
        with open(os.path.join(DEPLOY, "prometheus", "alerts_test.yml")) as f:
            tested = set(re.findall(r"alertname: (\w+)", f.read()))
        self.assertEqual(rules - tested, set())

    def test_example_config_is_read_by_serve(self):
        # The example's addresses are not on this machine: its links are pointed at closed
        # loopback ports and a missing device, so that serve reads the rest of it as written.
        with open(os.path.join(DEPLOY, "fleet.example.yml")) as f:
            text = f.read()
        d = tempfile.TemporaryDirectory()
        self.addCleanup(d.cleanup)
        closed = iter(range(1, 100))
        text = re.sub(r"link: tcp:\S+", lambda m: "link: tcp:127.0.0.1:%d" % next(closed), text)
        text = re.sub(r"link: serial:\S+", "link: serial:" + os.path.join(d.name, "no-such-tty"), text)
        names = re.findall(r"^\s*- name: (\S+)", text, re.M)
        self.assertGreaterEqual(len(names), 2)
        serve = Serve(self, text)
        # Nothing is known of a controller before its first poll, which comes at its first slot:
        # within the longest interval of the example (30 s).
        scrape = wait_for(lambda: (lambda t: t if all('qeln_up{controller="%s"} 0' % n in t for n in names) else None)(
            serve.scrape()), 45, "every controller of the example")
        self.assertIn('region="north"', scrape)  # the labels reach qeln_info


class LivePrometheusTest(unittest.TestCase):
    def start_prometheus(self, target):
        d = tempfile.TemporaryDirectory()
        self.addCleanup(d.cleanup)
        shutil.copy(os.path.join(DEPLOY, "prometheus", "alerts.yml"), d.name)
        config = os.path.join(d.name, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, scrape_timeout: 900ms, evaluation_interval: 1s}\n"
                    "rule_files: [alerts.yml]\n"
                    "scrape_configs:\n"
                    "  - job_name: qeln\n"
                    "    static_configs: [{targets: ['%s']}]\n" % target)
        self.prom_port = free_port()
        log = open(os.path.join(d.name, "prometheus.log"), "w")
        self.addCleanup(log.close)
        proc = subprocess.Popen(["prometheus", "--config.file=" + config,
                                 "--storage.tsdb.path=" + os.path.join(d.name, "data"),
                                 "--web.listen-address=127.0.0.1:%d" % self.prom_port, "--log.level=warn"],
                                stdout=log, stderr=subprocess.STDOUT)

        def stop():
            if proc.poll() is None:
                proc.terminate()
                proc.wait(30)
        self.addCleanup(stop)

        def ready():
            self.assertIsNone(proc.poll(), "prometheus stopped; its log is in " + log.name)
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/-/ready" % self.prom_port, timeout=5) as r:
                    return r.status == 200
            except (urllib.error.URLError, ConnectionError):
                return False
        wait_for(ready, 60, "prometheus ready")

    def api(self, path, **params):
        url = "http://127.0.0.1:%d/api/v1/%s?%s" % (self.prom_port, path, urllib.parse.urlencode(params))
        try:
            with urllib.request.urlopen(url, timeout=10) as r:
                return json.load(r)
        except urllib.error.HTTPError as e:  # a bad query: the error is in the body
            return json.load(e)

    def query(self, expr):
        answer = self.api("query", query=expr)
        self.assertEqual(answer["status"], "success", "%s: %s" % (expr, answer.get("error")))
        return answer["data"]["result"]

    def by_controller(self, expr):
        return {s["metric"]["controller"]: float(s["value"][1]) for s in self.query(expr)}

    def test_fleet_through_prometheus(self):
        n, down = 20, {"site-16", "site-17", "site-18", "site-19"}  # 16, 17 slow; 18, 19 dead
        fleet = Fleet(self, n, dead=2, slow="2:3000")
        serve = Serve(self, test_serve.config(fleet.links, interval="1s", timeout="500ms"))
        self.start_prometheus("127.0.0.1:%d" % serve.port)
        names = {"site-%d" % i for i in range(n)}
        expected = {name: 0.0 if name in down else 1.0 for name in names}
        up = wait_for(lambda: (lambda u: u if u == expected else None)(self.by_controller("qeln_up")), 60,
                      "qeln_up of every controller in prometheus")
        self.assertEqual(up, expected)

        # A controller that is down keeps only its own bookkeeping series.
        for name in sorted(down):
            with self.subTest(down=name):
                self.assertEqual(self.query('qeln_dc_output_voltage_volts{controller="%s"}' % name), [])
                others = self.query('{controller="%s", __name__!~"%s"}' % (name, KEPT_WHILE_DOWN))
                self.assertEqual(others, [])
                self.assertEqual(len(self.query('qeln_info{controller="%s"}' % name)), 1)
        self.assertEqual(set(self.by_controller("qeln_dc_output_voltage_volts")), names - down)
        self.assertEqual(len(self.query('qeln_battery_cell_voltage_volts{controller="site-0"}')), 15)

        # The set voltage Prometheus stored is the one the console shows for that controller.
        status = subprocess.run([CLI, "--link", "tcp:" + fleet.links[0], "status", "--json"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(status.returncode, 0, status.stderr)
        shown = json.loads(status.stdout)["texts"]["Label_SetV"]
        set_v = float(re.search(r": ([+-]?\d+(?:\.\d+)?)", shown).group(1))
        self.assertEqual(self.by_controller('qeln_set_voltage_volts{controller="site-0"}'), {"site-0": set_v})

        # Every query of the dashboard runs; those that do not filter on a value return series.
        dashboard, queries = dashboard_queries(os.path.join(DEPLOY, "grafana", "qeln-fleet.json"))
        self.assertGreater(len(queries), 10)
        variable = [v for v in dashboard["templating"]["list"] if v["name"] == "controller"][0]
        m = re.fullmatch(r"label_values\((\w+), *(\w+)\)", variable["query"]["query"])
        values = self.api("label/%s/values" % m.group(2), **{"match[]": m.group(1)})["data"]
        self.assertEqual(set(values), names)
        for title, expr in queries:
            concrete = expr.replace("$controller", "site-0")
            concrete = re.sub(r"\$__(rate_interval|interval|range)", "1m", concrete)
            with self.subTest(panel=title, expr=concrete):
                self.assertNotIn("$", concrete)
                if "==" in concrete:
                    self.query(concrete)  # may rightly select nothing
                else:
                    wait_for(lambda: self.query(concrete), 30, "series of " + concrete)

        # The rules load and watch the same series: the down controllers are pending for
        # QelnControllerDown (it fires after 2 minutes), no other controller is.
        rules = self.api("rules")["data"]["groups"]
        self.assertEqual({r["health"] for g in rules for r in g["rules"]}, {"ok"})

        def pending_down():
            alerts = self.api("alerts")["data"]["alerts"]
            return {a["labels"]["controller"] for a in alerts if a["labels"]["alertname"] == "QelnControllerDown"}
        wait_for(lambda: pending_down() == down, 30, "QelnControllerDown pending for the down controllers")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    options, rest = parser.parse_known_args()
    CLI, SIM = os.path.abspath(options.cli), os.path.abspath(options.sim)
    test_serve.CLI, test_serve.SIM = CLI, SIM
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
