#!/usr/bin/python3
"""qeln-cli serve, the fleet exporter, against a fleet of simulated controllers (qeln-sim --fleet,
its request log telling what each controller was sent), scraped over HTTP on loopback:

    /usr/bin/python3 tests/cli/test_serve.py --cli build/cli/qeln-cli --sim build/sim/qeln-sim
"""

import argparse
import base64
import http.client
import crypt  # noqa: the standard module, deprecated but present up to Python 3.12
import io
import json
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

CLI = SIM = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(check, timeout=20, what="a condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Fleet:
    """qeln-sim --fleet N with a request log; the last `dead` never answer, `slow` before them late."""

    def __init__(self, test, n, dead=0, slow=None):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "requests.log")
        args = [SIM, "--fleet", str(n), "--request-log", self.log]
        if dead:
            args += ["--fleet-dead", str(dead)]
        if slow:
            args += ["--fleet-slow", slow]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        test.addCleanup(self.stop)
        self.links = [self.proc.stdout.readline().split()[1] for _ in range(n)]

    def requests(self):
        """(controller index, function) of every request so far (the log is written each second)."""
        out = []
        if os.path.exists(self.log):
            with open(self.log) as f:
                for line in f:
                    if line.startswith("#") or not line.strip():
                        continue
                    _, index, function = line.split()
                    out.append((int(index), int(function)))
        return out

    def settled(self, index):
        """Reads one status from controller `index` with qeln-cli and waits until the request log
        holds it: every request that reached any controller before it is in the log by then."""
        before = sum(1 for i, _ in self.requests() if i == index)
        proc = subprocess.run([CLI, "--link", "tcp:" + self.links[index], "status"], capture_output=True, timeout=30)
        assert proc.returncode == 0, proc.stderr
        wait_for(lambda: sum(1 for i, _ in self.requests() if i == index) > before, 10, "the request log")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.dir.cleanup()


def make_certificate(folder):
    """A self-signed certificate for 127.0.0.1 as cert.pem and its key as key.pem in `folder`."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=qeln-test", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", os.path.join(folder, "key.pem"), "-out", os.path.join(folder, "cert.pem")],
                   check=True, capture_output=True)
    return os.path.join(folder, "cert.pem")


class Serve:
    def __init__(self, test, config_text, extra=(), web=None, tls=False):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)
        self.scheme, self.context = "http", None
        if tls:
            self.scheme = "https"
            self.context = ssl.create_default_context(cafile=make_certificate(self.dir.name))
        self.config = os.path.join(self.dir.name, "fleet.yml")
        self.write(config_text)
        self.port = free_port()
        # The ecosystem's spelling here; the older names in the tests that refuse.
        args = [CLI, "serve", "--config.file", self.config, "--web.listen-address", "127.0.0.1:%d" % self.port, *extra]
        self.web = os.path.join(self.dir.name, "web.yml")
        if web:
            self.write_web(web)
            args += ["--web.config.file", self.web]
        self.errpath = os.path.join(self.dir.name, "stderr")
        with open(self.errpath, "w") as err:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err, text=True)
        test.addCleanup(self.stop)
        line = self.proc.stdout.readline()
        test.assertTrue(line.startswith("listening"), line + self.errors() if not line else line)

    def errors(self):
        with open(self.errpath) as f:
            return f.read()

    def write_web(self, text):
        with open(self.web, "w") as f:
            f.write(text)

    def write(self, text):
        with open(self.config, "w") as f:
            f.write(text)

    def request(self, auth=None, path="/metrics", timeout=10, source="127.0.0.1", method="GET"):
        """(status, headers, body) of one request from the loopback address `source`."""
        if self.context:
            conn = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=timeout, context=self.context,
                                               source_address=(source, 0))
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout, source_address=(source, 0))
        try:
            headers = {"Authorization": "Basic " + base64.b64encode(auth.encode()).decode()} if auth else {}
            conn.request(method, path, headers=headers)
            r = conn.getresponse()
            return r.status, r.headers, r.read()
        finally:
            conn.close()

    def scrape(self, auth=None, path="/metrics", timeout=10, source="127.0.0.1"):
        status, headers, body = self.request(auth, path, timeout, source)
        if status != 200:
            raise urllib.error.HTTPError(path, status, "", headers, io.BytesIO(body))
        return body.decode()

    def value(self, text, series):
        m = re.search(r"^" + re.escape(series) + r" (\S+)$", text, re.M)
        return float(m.group(1)) if m else None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


def config(links, interval="1s", timeout="400ms", names=None, extra=""):
    lines = ["defaults: {interval: %s, timeout: %s%s}" % (interval, timeout, extra), "controllers:"]
    for i, link in enumerate(links):
        lines += ["  - name: %s" % (names[i] if names else "site-%d" % i), "    link: tcp:%s" % link]
    return "\n".join(lines) + "\n"


def client_sockets(links):
    """(established, time_wait) TCP sockets of this machine's clients of the given HOST:PORT
    links: the sockets whose remote end is one of them. A client that closes first leaves its
    side in TIME_WAIT for a minute, so the second count grows by one per closed connection."""
    ports = {int(link.rsplit(":", 1)[1]) for link in links}
    established = time_wait = 0
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        if not os.path.exists(name):
            continue
        with open(name) as f:
            next(f)
            for line in f:
                fields = line.split()
                if int(fields[2].rsplit(":", 1)[1], 16) not in ports:
                    continue
                established += fields[3] == "01"
                time_wait += fields[3] == "06"
    return established, time_wait


class ServeTest(unittest.TestCase):
    def test_refused_configs_send_nothing(self):
        fleet = Fleet(self, 2)  # controller 1 only marks how far the log has come
        good = ["  - name: a", "    link: tcp:%s" % fleet.links[0]]
        cases = [
            (good + ["  - name: a", "    link: tcp:%s" % fleet.links[0]], 5, "given twice"),
            (good + ["  - name: b", "    link: udp:1.2.3.4"], 6, "bad link"),
            (["  - name: a", "    link: tcp:%s" % fleet.links[0], "    interval: 10"], 5, "duration"),
            (good + ["  - name: c", "    link: tcp:%s" % fleet.links[0], "    colour: red"], 7, "colour"),
            ([], 2, "lists no controller"),
        ]
        for body, line, words in cases:
            with self.subTest(words=words), tempfile.TemporaryDirectory() as d:
                path = os.path.join(d, "fleet.yml")
                with open(path, "w") as f:
                    f.write("listen: 127.0.0.1:%d\ncontrollers:\n" % free_port() + "\n".join(body) + "\n")
                proc = subprocess.run([CLI, "serve", "--config", path], capture_output=True, text=True, timeout=30)
                self.assertEqual(proc.returncode, 2, proc.stderr)
                self.assertIn("%s:%d:" % (path, line), proc.stderr)
                self.assertIn(words, proc.stderr)
        # A listen address the web server cannot serve (no IPv6 in Debian's build), from the
        # command line or the config, is refused before anything starts.
        for where in ("--listen", "listen:"):
            with self.subTest(where=where), tempfile.TemporaryDirectory() as d:
                path = os.path.join(d, "fleet.yml")
                port = free_port()
                listen = "[::1]:%d" % port
                with open(path, "w") as f:
                    f.write(("listen: '%s'\n" % listen if where == "listen:" else "")
                            + "controllers:\n" + "\n".join(good) + "\n")
                args = [CLI, "serve", "--config", path] + (["--listen", listen] if where == "--listen" else [])
                proc = subprocess.run(args, capture_output=True, text=True, timeout=30)
                self.assertEqual(proc.returncode, 2, proc.stderr)
                self.assertIn("cannot listen on %s: this build's web server has no IPv6" % listen, proc.stderr)
                self.assertEqual(proc.stdout, "")
        fleet.settled(1)
        self.assertEqual([r for r in fleet.requests() if r[0] == 0], [])

    def test_fleet_up_dead_slow_and_values(self):
        fleet = Fleet(self, 4, dead=1, slow="1:1500")
        serve = Serve(self, config(fleet.links))
        expected = [(0, "ok"), (1, "ok"), (2, "timeout"), (3, "timeout")]

        def every_controller_polled():
            text = serve.scrape()
            counted = ('qeln_requests_total{controller="site-%d",result="%s"}' % e for e in expected)
            return text if all(serve.value(text, series) for series in counted) else None
        text = wait_for(every_controller_polled, 30, "every controller polled")
        self.assertEqual(serve.value(text, 'qeln_up{controller="site-0"}'), 1)
        self.assertEqual(serve.value(text, 'qeln_up{controller="site-1"}'), 1)
        self.assertEqual(serve.value(text, 'qeln_up{controller="site-2"}'), 0)  # slow: answers too late
        self.assertEqual(serve.value(text, 'qeln_up{controller="site-3"}'), 0)  # dead
        for down in (2, 3):
            self.assertNotIn('qeln_dc_output_voltage_volts{controller="site-%d"}' % down, text)
            self.assertIn('qeln_info{controller="site-%d"' % down, text)
        # The same numbers the console shows for that controller: a setting exactly, a
        # measurement within what the plant moves between the two reads.
        status = json.loads(subprocess.run([CLI, "--link", "tcp:" + fleet.links[1], "status", "--json"],
                                           capture_output=True, text=True, timeout=30).stdout)

        def shown(control):
            return float(re.search(r": ([+-]?\d+(?:\.\d+)?)", status["texts"][control]).group(1))
        self.assertEqual(serve.value(text, 'qeln_set_voltage_volts{controller="site-1"}'), shown("Label_SetV"))
        self.assertAlmostEqual(serve.value(text, 'qeln_dc_output_voltage_volts{controller="site-1"}'),
                               shown("Lable_DCV"), delta=0.5)
        # promtool takes the exposition as it is.
        check = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stderr)
        # The page says the same, with why a controller is down.
        page = serve.scrape(path="/")
        self.assertRegex(page, r"site-1</td><td class=\"up\">up")
        self.assertRegex(page, r"site-3</td><td class=\"down\">down</td><td>never</td><td>No response within 400 ms")
        # Serve only reads: every request it sent was a status read.
        self.assertTrue(fleet.requests())
        self.assertEqual({f for _, f in fleet.requests()}, {4})

    def test_scrapes_send_nothing(self):
        fleet = Fleet(self, 2)  # serve polls controller 0; controller 1 marks the log's progress
        serve = Serve(self, config(fleet.links[:1], interval="20s", timeout="1s"))
        wait_for(lambda: serve.value(serve.scrape(), 'qeln_up{controller="site-0"}') == 1, 30, "the first poll")
        fleet.settled(1)
        polls = [r for r in fleet.requests() if r[0] == 0]
        self.assertTrue(polls)
        for _ in range(50):
            serve.scrape()
        fleet.settled(1)
        # 20 s apart, no next poll has come in the meantime: the scrapes sent nothing.
        self.assertEqual([r for r in fleet.requests() if r[0] == 0], polls)

    def test_basic_auth(self):
        fleet = Fleet(self, 1)
        hashed = crypt.crypt("s3cret", crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=1 << 4))
        serve = Serve(self, config(fleet.links), web="basic_auth_users:\n  admin: '%s'\n" % hashed)
        # Each from its own address: failures slow down the address they come from.
        source = 10
        for path in ("/metrics", "/", "/-/healthy", "/-/ready"):
            for auth in (None, "admin:wrong", "nobody:s3cret", "admin"):
                with self.subTest(path=path, auth=auth):
                    source += 1
                    status, _, body = serve.request(auth, path, source="127.0.0.%d" % source)
                    self.assertEqual(status, 401)
                    self.assertNotIn(b"site-0", body)
        # Known before any poll: a scrape right after the start has it.
        self.assertIn("qeln_config_last_reload_successful", serve.scrape("admin:s3cret"))
        self.assertIn("site-0", serve.scrape("admin:s3cret", "/"))
        # Every refused login with a user name is told, with the name and the address.
        wait_for(lambda: serve.errors().count('msg="login refused"') == 12, 10, "the log lines")
        self.assertIn('level=warn msg="login refused" user=nobody addr=127.0.0.13\n', serve.errors())

    def test_web_config_reload(self):
        fleet = Fleet(self, 1)

        def users(name, password, cost=4):
            hashed = crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=1 << 4))
            return "basic_auth_users:\n  %s: '%s'\n" % (name, hashed.replace("$2b$04$", "$2b$%02d$" % cost))
        serve = Serve(self, config(fleet.links), web=users("admin", "s3cret"))
        self.assertIn("qeln_config_last_reload_successful", serve.scrape("admin:s3cret"))
        source = iter(range(10, 100))

        def status(auth):
            return serve.request(auth, source="127.0.0.%d" % next(source))[0]
        serve.write_web(users("ops", "other"))
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: status("ops:other") == 200, 10, "the new user")
        self.assertEqual(status("admin:s3cret"), 401)
        # A hash no password could match is refused with its line; the running users stay.
        serve.write_web(users("ops", "third", cost=3))
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: "web config reload refused" in serve.errors(), 10, "the refusal")
        self.assertIn("%s:2: the bcrypt cost of user 'ops' is 03" % serve.web, serve.errors())
        self.assertEqual(status("ops:other"), 200)
        self.assertEqual(serve.value(serve.scrape("ops:other"), "qeln_config_last_reload_successful"), 0)
        # TLS is set up with the listening socket: a reload keeps it as it was, takes the users.
        make_certificate(serve.dir.name)
        serve.write_web("tls_server_config: {cert_file: cert.pem, key_file: key.pem}\n" + users("ci", "fourth"))
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: status("ci:fourth") == 200, 10, "the users beside a TLS change")
        self.assertIn("tls_server_config changes only when serve starts again", serve.errors())

    def test_health_and_head(self):
        fleet = Fleet(self, 1)
        serve = Serve(self, config(fleet.links))
        cases = [("GET", "/-/healthy", b"QELN fleet exporter is Healthy.\n"),
                 ("GET", "/-/ready", b"QELN fleet exporter is Ready.\n"),
                 ("HEAD", "/metrics", b""), ("HEAD", "/-/healthy", b"")]
        for method, path, body in cases:
            with self.subTest(method=method, path=path):
                status, headers, got = serve.request(path=path, method=method)
                self.assertEqual((status, got), (200, body))
                self.assertTrue(headers["Content-Type"].startswith("text/plain"), headers)

    def test_failed_logins_slow_their_address_only(self):
        fleet = Fleet(self, 1)
        hashed = crypt.crypt("s3cret", crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=1 << 4))
        serve = Serve(self, config(fleet.links), web="basic_auth_users:\n  admin: '%s'\n" % hashed)
        # Wrong passwords from one address: after each failure the address waits twice as
        # long, so well before the sixth try it is turned away unchecked.
        statuses = []
        while 429 not in statuses:
            self.assertLess(len(statuses), 6, statuses)
            status, headers, _ = serve.request('adm"in\n:wrong', source="127.0.0.2")
            statuses.append(status)
        self.assertEqual(set(statuses[:-1]), {401})
        self.assertGreaterEqual(int(headers["Retry-After"]), 1)
        # Meanwhile the right password from there is turned away too, from elsewhere it scrapes.
        self.assertEqual(serve.request("admin:s3cret", source="127.0.0.2")[0], 429)
        self.assertIn("qeln_config_last_reload_successful", serve.scrape("admin:s3cret", source="127.0.0.3"))
        self.assertIn("qeln_config_last_reload_successful", serve.scrape("admin:s3cret"))
        # The client's user name cannot break the log line.
        self.assertIn('user="adm\\"in\\u000a" addr=127.0.0.2\n', serve.errors())

    def test_tls(self):
        fleet = Fleet(self, 1)
        hashed = crypt.crypt("s3cret", crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=1 << 4))
        for users in ("", "basic_auth_users:\n  admin: '%s'\n" % hashed):
            with self.subTest(users=bool(users)):
                # Relative to the web config's folder, where the certificate is made.
                serve = Serve(self, config(fleet.links), tls=True,
                              web="tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n" + users)
                auth = "admin:s3cret" if users else None
                wait_for(lambda: serve.value(serve.scrape(auth), 'qeln_up{controller="site-0"}') == 1, 30, "a poll")
                self.assertIn("site-0", serve.scrape(auth, "/"))
                if users:
                    with self.assertRaises(urllib.error.HTTPError) as refused:
                        serve.scrape("admin:wrong")
                    self.assertEqual(refused.exception.code, 401)
                    # Behind TLS the refused login is still told and slowed by the client's own
                    # address, not the relay's.
                    self.assertEqual(serve.request("admin:wrong", source="127.0.0.7")[0], 401)
                    wait_for(lambda: "addr=127.0.0.7" in serve.errors(), 10, "the refusal's log line")
                    self.assertEqual(serve.request("admin:s3cret", source="127.0.0.7")[0], 429)
                    self.assertEqual(serve.request("admin:s3cret", source="127.0.0.8")[0], 200)
                # Plain HTTP gets no metrics from the TLS port.
                with self.assertRaises((urllib.error.URLError, ConnectionError, http.client.HTTPException)):
                    urllib.request.urlopen("http://127.0.0.1:%d/metrics" % serve.port, timeout=10).read()

    def test_idle_and_slow_clients_do_not_stop_scrapes(self):
        fleet = Fleet(self, 1)
        serve = Serve(self, config(fleet.links))
        idle = []
        for _ in range(20):
            s = socket.create_connection(("127.0.0.1", serve.port))
            self.addCleanup(s.close)
            idle.append(s)
        loris = socket.create_connection(("127.0.0.1", serve.port))
        self.addCleanup(loris.close)
        loris.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")
        for i in range(3):
            loris.sendall(b"X-Slow-%d: " % i)
            # Each scrape answers while every one of them holds its connection.
            self.assertIn("qeln_", serve.scrape(timeout=5))
        # A client that never finishes its request is cut off rather than held forever.
        loris.settimeout(60)
        try:
            while loris.recv(4096):
                pass
        except ConnectionResetError:
            pass

    def test_reload_and_stop(self):
        fleet = Fleet(self, 2)
        serve = Serve(self, config(fleet.links))
        wait_for(lambda: all(serve.value(serve.scrape(), 'qeln_up{controller="site-%d"}' % i) == 1 for i in (0, 1)),
                 30, "both up")
        serve.write(config(fleet.links[:1]))
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: 'controller="site-1"' not in serve.scrape(), 10, "site-1's series gone")
        self.assertEqual(serve.value(serve.scrape(), "qeln_config_last_reload_successful"), 1)
        serve.write("controllers: [")
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: serve.value(serve.scrape(), "qeln_config_last_reload_successful") == 0, 10, "a refused reload")
        self.assertEqual(serve.value(serve.scrape(), 'qeln_up{controller="site-0"}'), 1)
        serve.proc.send_signal(signal.SIGTERM)
        self.assertEqual(serve.proc.wait(30), 0)
        self.assertIn("reload refused", serve.errors())

    def test_inventory_files_and_shards(self):
        # Controllers from an inventory system's files, found as the files come and go, split
        # between two exporters by --shard: each controller is polled by exactly one of them.
        fleet = Fleet(self, 4)
        inventory = tempfile.TemporaryDirectory()
        self.addCleanup(inventory.cleanup)

        def group(i):
            return {"targets": ["tcp:" + fleet.links[i]], "labels": {"controller": "inv-%d" % i, "rack": "r%d" % i}}
        with open(os.path.join(inventory.name, "a.json"), "w") as f:
            json.dump([group(0), group(1)], f)
        text = "defaults: {interval: 1s, timeout: 400ms}\ncontroller_files: ['%s/*.json']\n" % inventory.name
        serves = [Serve(self, text, extra=("--shard", "%d/2" % k)) for k in (1, 2)]

        def polled():
            return [set(re.findall(r'^qeln_up\{controller="(inv-\d)"\} 1$', s.scrape(), re.M)) for s in serves]
        wait_for(lambda: set().union(*polled()) == {"inv-0", "inv-1"}, 20, "both controllers of a.json up")
        # A new file, written as inventory systems do (a temporary name, then a rename).
        tmp = os.path.join(inventory.name, "b.json.tmp")
        with open(tmp, "w") as f:
            json.dump([group(2), group(3)], f)
        os.rename(tmp, os.path.join(inventory.name, "b.json"))
        wait_for(lambda: set().union(*polled()) == {"inv-0", "inv-1", "inv-2", "inv-3"}, 20, "b.json's controllers")
        first, second = polled()
        self.assertEqual(first & second, set())
        self.assertIn('rack="r3"', serves[0].scrape() + serves[1].scrape())
        # A file half written keeps what it gave, and the exporter says why.
        with open(os.path.join(inventory.name, "a.json"), "w") as f:
            f.write('[{"targets": ["tcp:')
        wait_for(lambda: any("a.json" in s.errors() for s in serves), 10, "the refusal of a.json")
        self.assertEqual(set().union(*polled()), {"inv-0", "inv-1", "inv-2", "inv-3"})
        # A file that goes takes its controllers along.
        os.remove(os.path.join(inventory.name, "b.json"))
        wait_for(lambda: all('controller="inv-3"' not in s.scrape() for s in serves), 10, "b.json's series gone")

    def test_no_down_before_the_first_poll_and_labels_reload_in_place(self):
        fleet = Fleet(self, 4)
        serve = Serve(self, config(fleet.links, interval="4s", timeout="1s"))
        ups = lambda text: re.findall(r'^qeln_up\{controller="(site-\d)"\} (\S+)$', text, re.M)
        # The offsets spread the four over 4 s: right after the start most have not been polled,
        # and those have no qeln_up at all, never a 0 that would page.
        first = serve.scrape()
        self.assertLess(len(ups(first)), 4, first)
        self.assertIn('qeln_poll_interval_seconds{controller="site-3"} 4', first)

        def all_up():
            found = ups(serve.scrape())
            self.assertNotIn("0", [v for _, v in found])
            return len(found) == 4
        wait_for(all_up, 30, "every controller up")

        ok = 'qeln_requests_total{controller="site-0",result="ok"}'
        wait_for(lambda: (serve.value(serve.scrape(), ok) or 0) >= 2, 30, "two polls of site-0")
        before = serve.value(serve.scrape(), ok)
        serve.write(config(fleet.links, interval="4s", timeout="1s").replace(
            "  - name: site-0\n", "  - name: site-0\n    labels: {region: east}\n"))
        serve.proc.send_signal(signal.SIGHUP)
        # The new label shows at once; the poller, its counters and its state stay.
        text = wait_for(lambda: (lambda t: t if 'region="east"' in t else None)(serve.scrape()), 10, "the new label")
        self.assertEqual(serve.value(text, 'qeln_up{controller="site-0"}'), 1)
        self.assertGreaterEqual(serve.value(text, ok), before)
        self.assertIn('qeln_dc_output_voltage_volts{controller="site-0"}', text)

        # A fleet of none is refused like any bad file: the running config stays.
        serve.write("controllers: []\n")
        serve.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: serve.value(serve.scrape(), "qeln_config_last_reload_successful") == 0, 10, "a refused reload")
        self.assertEqual(serve.value(serve.scrape(), 'qeln_up{controller="site-3"}'), 1)

    def test_connection_per_poll_or_persistent(self):
        for mode in ("per_poll", "persistent"):
            with self.subTest(mode=mode):
                fleet = Fleet(self, 2)
                extra = "" if mode == "per_poll" else ", connection: persistent"
                serve = Serve(self, config(fleet.links, interval="500ms", timeout="300ms", extra=extra))

                def polled_three_times():
                    text = serve.scrape()
                    return all((serve.value(text, 'qeln_requests_total{controller="site-%d",result="ok"}' % i) or 0) >= 3
                               for i in (0, 1))
                wait_for(polled_three_times, 30, "three polls of each")
                if mode == "per_poll":
                    # One connection per poll, each closed by serve when its poll ended.
                    wait_for(lambda: client_sockets(fleet.links)[1] >= 6, 10, "six closed connections")
                else:
                    self.assertEqual(client_sockets(fleet.links), (2, 0))
                serve.stop()
                fleet.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    options, rest = parser.parse_known_args()
    CLI, SIM = os.path.abspath(options.cli), os.path.abspath(options.sim)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
