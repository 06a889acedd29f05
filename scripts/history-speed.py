#!/usr/bin/python3
"""How fast the history download runs, side by side with a plain Modbus master.

1. TCP loopback, 2000 alarm records from qeln-sim: the wall time of
   `qeln-cli history alarm --out F.csv`, and of the history window (build/bench/history_window),
   against a libmodbus loop of 2000 read-input-register
   round trips whose answers have the record answer's size (43 bytes), against the same
   simulator, in one run (median of --runs each).
2. The same download over the simulator's pseudo-terminal paced at 115200 baud, against the
   wire limit: the characters of every record at 10 bits a character (the simulator paces its
   answers; the requests cross the pseudo-terminal at once).

With --faults instead: the same log downloaded clean and through a noisy line, on both links,
each row compared with the clean download's and the time with the clean time (the target: at
most twice):
   serial  the pseudo-terminal at 115200 baud, 1 % of the answers lost and 2 % spoilt (a wrong
           LRC, a digit that is not hexadecimal, or one byte short and well framed);
   TCP     loopback, 5 % of the answers exceptions (code 04).
The plant is the same in every run (--seed, a fixed clock); the faults follow the seed.

Usage: scripts/history-speed.py [--records 2000] [--runs 5] [--build build]
       scripts/history-speed.py --faults [--records 2000] [--runs 3] [--seed 3] [--build build]
Needs libmodbus-dev and a C compiler for the yardstick (scripts/setup-deps.sh installs them);
--faults needs neither.
"""
import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

LOOP_C = r"""
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char **argv)
{
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    int n = atoi(argv[2]);
    uint16_t regs[17];
    if (!ctx || modbus_connect(ctx) != 0) { fprintf(stderr, "connect failed\n"); return 1; }
    modbus_set_slave(ctx, 1);
    for (int i = 0; i < n; ++i) {
        if (modbus_read_input_registers(ctx, 1, 17, regs) != 17) { fprintf(stderr, "read failed\n"); return 1; }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
"""

# The same record requests as the console's (function 0x44, alarm log, record numbers from
# the top down) over a plain socket: what the simulator itself needs per record answer.
RAW_C = r"""
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>
int main(int argc, char **argv)
{
    int n = atoi(argv[2]), one = 1, fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {0};
    a.sin_family = AF_INET;
    a.sin_port = htons(atoi(argv[1]));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr *)&a, sizeof a) != 0) { perror("connect"); return 1; }
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (int i = 0; i < n; ++i) {
        int record = n - 1 - i, tid = i + 1;
        unsigned char q[12] = {tid >> 8, tid & 0xFF, 0, 0, 0, 5, 1, 0x44, 1, record >> 8, record & 0xFF};
        if (write(fd, q, 11) != 11) { perror("write"); return 1; }
        unsigned char r[43];
        for (int got = 0; got < 43;) {
            int k = read(fd, r + got, 43 - got);
            if (k <= 0) { fprintf(stderr, "read failed\n"); return 1; }
            got += k;
        }
    }
    close(fd);
    return 0;
}
"""


def start_sim(sim, *extra, seed="3"):
    proc = subprocess.Popen([sim, "--tcp-port", "0", "--pty", "--seed", seed, *extra],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    links, buffer, deadline = {}, b"", time.monotonic() + 20
    while len(links) < 2 and time.monotonic() < deadline:
        if select.select([proc.stdout], [], [], 1)[0]:
            buffer += os.read(proc.stdout.fileno(), 4096)
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            kind, _, where = line.decode().strip().partition(" ")
            if kind in ("tcp", "serial"):
                links[kind] = where
    if len(links) < 2:
        proc.kill()
        sys.exit("history-speed: qeln-sim did not start")
    return proc, links


def timed(cmd):
    t0 = time.monotonic()
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - t0
    if done.returncode != 0:
        sys.exit(f"history-speed: {' '.join(cmd)} failed: {done.stderr.decode(errors='replace')}")
    return elapsed


NOISY_LINES = [
    ("serial", ["--pace-baud", "115200"],
     ["--drop-rate", "0.01", "--corrupt-rate", "0.02", "--serial-corrupt-kinds", "lrc,hex,short"],
     "115200 baud, 1 % lost, 2 % spoilt"),
    ("tcp", [], ["--corrupt-rate", "0.05", "--corrupt-kinds", "exception"], "loopback, 5 % exception answers"),
]


def download(cli, sim, link, records, seed, extra):
    """One whole-log download (CSV on stdout) from a fresh simulator: (seconds, rows)."""
    proc, links = start_sim(sim, "--history", str(records), "--clock", "2026-01-01T00:00:00", *extra, seed=seed)
    try:
        t0 = time.monotonic()
        done = subprocess.run([cli, "--link", ("tcp:" if link == "tcp" else "serial:") + links[link],
                               "history", "alarm"], capture_output=True, timeout=600)
        elapsed = time.monotonic() - t0
    finally:
        proc.terminate()
        proc.wait()
    if done.returncode != 0:
        return elapsed, None, done.stderr.decode(errors="replace").strip()
    return elapsed, done.stdout.split(b"\r\n")[1:-1], ""


def noisy_line(args, cli, sim):
    failed = False
    for link, line, faults, what in NOISY_LINES:
        clean_times, noisy_times, equal, errors = [], [], True, []
        for _ in range(args.runs):
            t, clean_rows, _ = download(cli, sim, link, args.records, args.seed, line)
            if clean_rows is None or len(clean_rows) != args.records:
                sys.exit(f"history-speed: the clean {link} download failed")
            clean_times.append(t)
            t, rows, error = download(cli, sim, link, args.records, args.seed, line + faults)
            noisy_times.append(t)
            if rows != clean_rows:
                equal = False
                errors.append(error or f"{0 if rows is None else len(rows)} rows, "
                              f"{sum(a != b for a, b in zip(rows or [], clean_rows))} differing")
        c, n = statistics.median(clean_times), statistics.median(noisy_times)
        ratio = n / c
        print(f"{link:6} {args.records} alarm records, {what}, median of {args.runs} (whole processes):")
        print(f"  clean {c:8.3f} s   noisy {n:8.3f} s   ratio {ratio:5.2f} (target <= 2)   "
              f"rows equal: {'yes' if equal else 'no'}")
        print(f"  runs: clean {', '.join(f'{x:.3f}' for x in clean_times)}; "
              f"noisy {', '.join(f'{x:.3f}' for x in noisy_times)}")
        for e in errors:
            print(f"  {e}")
        failed |= not equal or ratio > 2
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=None)
    parser.add_argument("--build", default="build")
    parser.add_argument("--faults", action="store_true", help="clean against a noisy line, both links")
    parser.add_argument("--seed", default="3", help="the plant's and the faults' seed (--faults)")
    args = parser.parse_args()
    cli = os.path.join(args.build, "cli", "qeln-cli")
    sim = os.path.join(args.build, "sim", "qeln-sim")
    if args.faults:
        args.runs = args.runs or 3
        return noisy_line(args, cli, sim)
    args.runs = args.runs or 5
    work = tempfile.mkdtemp(prefix="qeln-history-speed-")
    try:
        loop = os.path.join(work, "modbus-loop")
        cc = shutil.which("cc") or shutil.which("gcc")
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libmodbus"], capture_output=True, text=True)
        if not cc or flags.returncode != 0:
            sys.exit("history-speed: needs a C compiler and libmodbus-dev (bash scripts/setup-deps.sh)")
        with open(loop + ".c", "w") as f:
            f.write(LOOP_C)
        subprocess.run([cc, "-O2", "-o", loop, loop + ".c", *flags.stdout.split()], check=True)
        raw = os.path.join(work, "raw-loop")
        with open(raw + ".c", "w") as f:
            f.write(RAW_C)
        subprocess.run([cc, "-O2", "-o", raw, raw + ".c"], check=True)

        proc, links = start_sim(sim, "--history", str(args.records))
        try:
            port = links["tcp"].rsplit(":", 1)[1]
            cli_times, loop_times, raw_times = [], [], []
            for run in range(args.runs):
                out = os.path.join(work, f"alarms-{run}.csv")
                cli_times.append(timed([cli, "--link", "tcp:127.0.0.1:" + port, "history", "alarm", "--out", out]))
                loop_times.append(timed([loop, port, str(args.records)]))
                raw_times.append(timed([raw, port, str(args.records)]))
                with open(out, "rb") as f:
                    rows = f.read().count(b"\r\n") - 1
                if rows != args.records:
                    sys.exit(f"history-speed: {rows} rows instead of {args.records}")
            window = os.path.join(args.build, "bench", "history_window")
            window_lines = []
            if os.access(window, os.X_OK):
                env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
                env.setdefault("XDG_RUNTIME_DIR", work)
                for run in range(args.runs):
                    done = subprocess.run([window, "127.0.0.1:" + port], env=env, capture_output=True, text=True)
                    if done.returncode != 0:
                        sys.exit(f"history-speed: history_window failed: {done.stderr}")
                    window_lines.append(done.stdout.strip())
        finally:
            proc.terminate()
            proc.wait()
        c, l = statistics.median(cli_times), statistics.median(loop_times)
        print(f"TCP loopback, {args.records} alarm records, median of {args.runs} (whole processes):")
        print(f"  qeln-cli history alarm      {c:7.3f} s   (min {min(cli_times):.3f}, max {max(cli_times):.3f})")
        print(f"  libmodbus loop, same sizes  {l:7.3f} s   (min {min(loop_times):.3f}, max {max(loop_times):.3f})")
        print(f"  ratio qeln-cli / loop       {c / l:7.2f}")
        r = statistics.median(raw_times)
        print(f"  plain-socket loop of the console's own record requests (0x44): {r:.3f} s; "
              f"qeln-cli / that loop {c / r:.2f}")
        if window_lines:
            # "N records: A s from the command, B s from the count answer; longest ... gap G ms"
            from_count = [float(line.split(", ")[1].split(" s")[0]) for line in window_lines]
            w = statistics.median(from_count)
            print(f"  history window (offscreen)  {w:7.3f} s from the count answer, after the window's 400 ms start delay")
            print(f"  ratio window / loop         {w / l:7.2f}")
            print(f"  runs: {window_lines}")

        proc, links = start_sim(sim, "--history", str(args.records), "--pace-baud", "115200")
        try:
            out = os.path.join(work, "alarms-serial.csv")
            t = timed([cli, "--link", "serial:" + links["serial"], "history", "alarm", "--out", out])
        finally:
            proc.terminate()
            proc.wait()
        # Per record: ":" 01 31 NNNN LRC CR LF (13 characters) out, ":" 01 C1 + 68 digits
        # + LRC CR LF (75) back; the count exchange and one status poll besides. The simulator
        # paces what it sends; the pseudo-terminal carries the requests at once, so the limit
        # of this set-up is the answers' time, and that of a real line both directions'.
        sent = args.records * 13 + 11 + 17
        answered = args.records * 75 + 15 + 537
        line_limit = (sent + answered) * 10 / 115200
        answer_limit = answered * 10 / 115200
        print(f"Pseudo-terminal paced at 115200 baud (the simulator's answers), {args.records} alarm records:")
        print(f"  qeln-cli history alarm      {t:7.3f} s")
        print(f"  answers at 115200 baud      {answer_limit:7.3f} s   ({answered} characters at 10 bits): "
              f"{answer_limit / t * 100:.1f} % of the limit here")
        print(f"  a real line, both ways      {line_limit:7.3f} s   ({sent + answered} characters)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
