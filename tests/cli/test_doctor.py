#!/usr/bin/python3
"""qeln-cli doctor against real pseudo-terminals: one that opens, one of mode 000 examined by an
unprivileged user (setpriv), one held open by another process; loopback TCP; bad arguments:

    /usr/bin/python3 tests/cli/test_doctor.py --cli build/cli/qeln-cli
"""

import argparse
import os
import pty
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

CLI = None


def doctor(*args, env=None, prefix=()):
    return subprocess.run([*prefix, CLI, *args], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, **(env or {})))


class PseudoTerminal:
    """A pty whose slave nobody holds: the master stays open in this process."""

    def __init__(self, test):
        self.master, slave = pty.openpty()
        self.path = os.ttyname(slave)
        os.close(slave)
        test.addCleanup(os.close, self.master)


MAKER = """
import os, pty, sys
master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
sys.stdin.read()
"""


class MadePseudoTerminal:
    """A pty made by another process that keeps both its sides open, as a simulator does."""

    def __init__(self, test):
        self.process = subprocess.Popen([sys.executable, "-c", MAKER], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        test.addCleanup(self.process.wait)
        test.addCleanup(self.process.stdout.close)
        test.addCleanup(self.process.stdin.close)
        self.path = self.process.stdout.readline().strip()
        test.assertTrue(self.path.startswith("/dev/pts/"), self.path)


def fake_etc(test):
    """A root whose /etc lists nobody in dialout, and a user op (uid 1000)."""
    root = tempfile.TemporaryDirectory()
    test.addCleanup(root.cleanup)
    os.mkdir(os.path.join(root.name, "etc"))
    with open(os.path.join(root.name, "etc/passwd"), "w") as f:
        f.write("root:x:0:0:root:/root:/bin/sh\nop:x:1000:1000::/home/op:/bin/sh\n"
                "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n")
    with open(os.path.join(root.name, "etc/group"), "w") as f:
        f.write("root:x:0:\ndialout:x:20:nobody\nvideo:x:44:\nnogroup:x:65534:\n")
    os.chmod(root.name, 0o755)
    return root.name


def acl_xattr(user, perm):
    """system.posix_acl_access granting `user` (a uid) `perm` besides owner root rw."""
    entry = lambda tag, perm, ident=0xFFFFFFFF: struct.pack("<HHI", tag, perm, ident)
    return (struct.pack("<I", 2) + entry(0x01, 6) + entry(0x02, perm, user) + entry(0x04, 0)
            + entry(0x10, 6) + entry(0x20, 0))


NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


class DoctorTest(unittest.TestCase):
    def test_pseudo_terminal_passes(self):
        term = PseudoTerminal(self)
        for args in (["doctor", term.path], ["doctor", "serial:" + term.path], ["--link", "serial:" + term.path, "doctor"]):
            with self.subTest(args=args):
                proc = doctor(*args)
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                self.assertIn("%s:\n  [ok]   exists: character device 136:" % term.path, proc.stdout)
                self.assertIn("[ok]   read and write:", proc.stdout)
                self.assertIn("[ok]   not held by another program", proc.stdout)
                self.assertTrue(proc.stdout.endswith("No problem found.\n"), proc.stdout)

    def test_held_by_another_process(self):
        term = PseudoTerminal(self)
        with open(term.path, "rb", buffering=0) as port:
            holder = subprocess.Popen(["sleep", "600"], stdin=port)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        proc = doctor("doctor", term.path)
        self.assertEqual(proc.returncode, 1, proc.stdout)
        self.assertIn("[FAIL] not held by another program: held open by sleep (pid %d)" % holder.pid, proc.stdout)
        self.assertIn("kill %d" % holder.pid, proc.stdout)
        self.assertIn("1 problem found.", proc.stdout)
        # This process holds the master: it made the pty and is not in the way.
        self.assertIn("(pid %d), which holds its master side" % os.getpid(), proc.stdout)
        self.assertNotIn("kill %d" % os.getpid(), proc.stdout)

    def test_no_kill_for_what_is_no_serial_port_in_use(self):
        made = MadePseudoTerminal(self)
        missing = os.path.join(tempfile.gettempdir(), "qeln-no-such-port-%d" % os.getpid())
        cases = [
            (made.path, 0, ["is a pseudo-terminal",
                            "(pid %d), which holds its master side" % made.process.pid]),
            ("/dev/null", 1, ["[FAIL] what it is: /dev/null is character device 1:3", "not a terminal at all"]),
            (missing, 1, ["does not exist"]),
        ]
        for path, code, texts in cases:
            with self.subTest(path=path):
                proc = doctor("doctor", path)
                self.assertEqual(proc.returncode, code, proc.stdout + proc.stderr)
                for text in texts:
                    self.assertIn(text, proc.stdout)
                self.assertNotIn("kill", proc.stdout)
                self.assertNotIn("held open by", proc.stdout)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv (util-linux)")
    def test_unprivileged_user(self):
        # The user's accounts come from a fake /etc: nobody is listed in dialout there, so
        # whether this login has the group is what the groups setpriv gives decides.
        root = fake_etc(self)
        nobody = NOBODY
        in_dialout = ["setpriv", "--reuid=65534", "--regid=65534", "--groups=20"]
        cases = [
            # mode, group, setpriv, exit, texts ("!" before one that must not appear)
            (0o000, 0, nobody, 1, ["nobody (uid 65534) may not: owner root, group root, mode 0000 (---------)",
                                   "its mode lets group root neither read nor write it", "sudo chgrp dialout {dev}",
                                   "sudo chmod 0660 {dev}", "log out and log in again"]),
            (0o660, 44, nobody, 1, ["nobody is not in group video (/etc/group)", "sudo usermod -aG video $USER"]),
            (0o660, 20, nobody, 1, ["nobody is in group dialout, but this login started before that"]),
            (0o660, 20, in_dialout, 0, ["[ok]   read and write: nobody may read and write it"]),
            # The login has dialout already: only the mode is to mend, no new login.
            (0o000, 20, in_dialout, 1, ["this login has group dialout", "sudo chmod 0660 {dev}", "!log out",
                                        "!sudo chgrp"]),
            (0o666, 0, nobody, 0, ["[ok]   read and write: nobody may read and write it"]),
        ]
        for mode, group, prefix, code, texts in cases:
            with self.subTest(mode=oct(mode), group=group, prefix=prefix[-1]):
                term = PseudoTerminal(self)
                os.chown(term.path, 0, group)
                os.chmod(term.path, mode)
                proc = doctor("doctor", term.path, prefix=prefix, env={"QELN_DOCTOR_ROOT": root})
                self.assertEqual(proc.returncode, code, proc.stdout + proc.stderr)
                for text in texts:
                    if text.startswith("!"):
                        self.assertNotIn(text[1:], proc.stdout)
                    else:
                        self.assertIn(text.format(dev=term.path), proc.stdout)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv (util-linux)")
    def test_uaccess_acl(self):
        # A device node of mode 0600 (root) whose ACL grants one user, as uaccess does for the
        # user at the seat.
        root = fake_etc(self)
        cases = [(65534, 6, 0, "[ok]   read and write: nobody may read and write it"),
                 (1000, 6, 1, "ACL: user:op:rw- (uaccess grants the user at the seat; here it does not reach nobody)"),
                 (65534, 4, 1, "ACL: user:nobody:r--")]
        for uid, perm, code, text in cases:
            with self.subTest(uid=uid, perm=perm):
                folder = tempfile.TemporaryDirectory()
                self.addCleanup(folder.cleanup)
                os.chmod(folder.name, 0o755)
                node = os.path.join(folder.name, "ttyACM0")
                os.mknod(node, 0o20600, os.makedev(136, 250))
                try:
                    os.setxattr(node, "system.posix_acl_access", acl_xattr(uid, perm))
                except OSError as e:
                    self.skipTest("no ACLs on this file system: %s" % e)
                proc = doctor("doctor", node, prefix=NOBODY, env={"QELN_DOCTOR_ROOT": root})
                self.assertEqual(proc.returncode, code, proc.stdout + proc.stderr)
                self.assertIn(text, proc.stdout)

    def test_missing_device(self):
        missing = os.path.join(tempfile.gettempdir(), "qeln-no-such-port-%d" % os.getpid())
        proc = doctor("doctor", missing)
        self.assertEqual(proc.returncode, 1)
        self.assertIn("[FAIL] exists: %s does not exist" % missing, proc.stdout)
        self.assertIn("fix: plug in the adapter", proc.stdout)

    def test_tcp(self):
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        port = server.getsockname()[1]
        proc = doctor("doctor", "tcp:127.0.0.1:%d" % port)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertIn("[ok]   port answers: 127.0.0.1 port %d accepts connections" % port, proc.stdout)
        self.assertNotIn("Serial ports", proc.stdout)
        proc = doctor("doctor", "tcp:localhost:%d" % port)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertIn("[ok]   name resolves: localhost is", proc.stdout)
        server.close()
        proc = doctor("doctor", "tcp:127.0.0.1:%d" % port)
        self.assertEqual(proc.returncode, 1, proc.stdout)
        self.assertIn("refuses", proc.stdout)

    def test_bad_arguments(self):
        cases = [
            (["doctor", "/dev/ttyUSB0", "/dev/ttyUSB1"], "unexpected argument '/dev/ttyUSB1'"),
            (["doctor", "--json"], "unexpected argument '--json'"),
            (["doctor", "tcp:"], ""),
            (["doctor", "tcp:127.0.0.1:70000"], ""),
            (["--link", "serial:/dev/ttyUSB0", "doctor", "/dev/ttyUSB1"], "either with --link or after doctor"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                proc = doctor(*args)
                self.assertEqual(proc.returncode, 2, proc.stdout + proc.stderr)
                self.assertEqual(proc.stdout, "")
                self.assertIn(message, proc.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    args, rest = parser.parse_known_args()
    CLI = os.path.abspath(args.cli)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
