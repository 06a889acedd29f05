#!/usr/bin/python3
"""Whether idle or slow HTTP clients hold off scrapes of qeln-cli serve.

Starts qeln-sim with a fleet of 20 controllers and serve on them, times scrapes alone, then
with N clients connected to the HTTP port (half of them idle, half sending an unfinished
request head), and prints the median and the longest scrape of each. The target: with 100 such
clients a scrape still answers in under 1 s.

Usage: scripts/serve-idle-clients.py [--clients 100] [--scrapes 9] [--build build]
Loopback only.
"""
import argparse
import os
import socket
import statistics
import subprocess
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--scrapes", type=int, default=9)
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    sim = subprocess.Popen([os.path.join(args.build, "sim", "qeln-sim"), "--fleet", "20", "--tcp-port", "0"],
                           stdout=subprocess.PIPE, text=True)
    links = []
    while len(links) < 20:
        words = sim.stdout.readline().split()
        if words and words[0] == "tcp":
            links.append(words[1])
    folder = tempfile.TemporaryDirectory()
    config = os.path.join(folder.name, "fleet.yml")
    with open(config, "w") as f:
        f.write("defaults: {interval: 2s, timeout: 1s}\ncontrollers:\n")
        f.writelines("  - {name: site-%d, link: 'tcp:%s'}\n" % (i, link) for i, link in enumerate(links))
    port = free_port()
    serve = subprocess.Popen([os.path.join(args.build, "cli", "qeln-cli"), "serve", "--config.file", config,
                              "--web.listen-address", "127.0.0.1:%d" % port],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        serve.stdout.readline()

        def scrape():
            start = time.monotonic()
            urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=30).read()
            return time.monotonic() - start

        def figures(times):
            return "median %.1f ms, longest %.1f ms" % (statistics.median(times) * 1000, max(times) * 1000)

        alone = [scrape() for _ in range(args.scrapes)]
        clients = []
        for i in range(args.clients):
            c = socket.create_connection(("127.0.0.1", port))
            if i % 2:
                c.send(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")  # never finished
            clients.append(c)
        loaded = [scrape() for _ in range(args.scrapes)]
        print("scrapes alone:                        " + figures(alone))
        print("scrapes with %3d idle or slow clients: %s" % (args.clients, figures(loaded)))
        for c in clients:
            c.close()
    finally:
        serve.terminate()
        sim.terminate()
        serve.wait()
        sim.wait()


if __name__ == "__main__":
    main()
