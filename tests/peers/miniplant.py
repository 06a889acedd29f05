#!/usr/bin/python3
"""A small stand-in for the plant controller, for tests.

Serves Modbus TCP on 127.0.0.1 and/or Modbus ASCII on a pseudo-terminal it creates itself.
It answers the status read (function 04, addresses 1..131) from its register table and
stores and echoes single register writes (function 06). Every request it receives is
logged, one line each, as "tcp HEX" or "serial HEX" (the raw bytes, hex encoded).

On start it prints "tcp PORT" and/or "serial /dev/pts/N", then "ready", and runs until it
is terminated.

Fault switches make it misbehave the way a broken line or controller would:
  --drop            never answer
  --no-ack          take writes but never acknowledge them
  --short           answer the status read with one register too few
  --corrupt KIND    lrc (serial), tid, count, length, long-length (TCP): spoil every
                    answer (length: the length field one too high, as some firmware
                    sends it; long-length: two too high)
  --wrong-echo      answer a write with another value than the one written
  --refuse REG      answer a write of register REG with exception 02
  --hang-up         close the TCP connection after each answer
  --chunk N         send answers in pieces of N bytes, 5 ms apart
"""

import argparse
import json
import os
import selectors
import socket
import sys
import time
import tty

STATUS_COUNT = 131


def default_registers():
    """A deterministic table covering 0, the top of the range and mixed bit patterns."""
    values = [(n * 40503 + 0x1234) & 0xFFFF for n in range(STATUS_COUNT)]
    values[0] = 0
    values[-1] = 0xFFFF
    return values


def lrc(data):
    return (-sum(data)) & 0xFF


class Plant:
    def __init__(self, args):
        self.args = args
        self.status = json.loads(args.registers) if args.registers else default_registers()
        if len(self.status) != STATUS_COUNT or any(not 0 <= v <= 0xFFFF for v in self.status):
            raise SystemExit("miniplant: --registers needs %d values in 0..65535" % STATUS_COUNT)
        self.holding = {}
        self.log = open(args.log, "a", buffering=1) if args.log else sys.stdout

    def record(self, link, frame):
        self.log.write("%s %s\n" % (link, frame.hex()))
        self.log.flush()

    def status_values(self, start, count):
        """Registers start..start+count-1 of the status block (addresses 1..131), or None."""
        if start < 1 or count < 1 or start - 1 + count > STATUS_COUNT:
            return None
        values = self.status[start - 1:start - 1 + count]
        return values[:-1] if self.args.short else values

    def handle(self, pdu):
        """Returns the answer PDU (function + data) for a request PDU, or None for silence."""
        if self.args.drop or len(pdu) < 1:
            return None
        function = pdu[0]
        if function == 0x04 and len(pdu) == 5:
            values = self.status_values(int.from_bytes(pdu[1:3], "big"), int.from_bytes(pdu[3:5], "big"))
            if values is None:
                return bytes([0x84, 0x02])
            return bytes([0x04]) + b"".join(v.to_bytes(2, "big") for v in values)
        if function == 0x06 and len(pdu) == 5:
            if self.args.no_ack:
                return None
            if self.args.refuse is not None and int.from_bytes(pdu[1:3], "big") == self.args.refuse:
                return bytes([0x86, 0x02])
            self.holding[int.from_bytes(pdu[1:3], "big")] = int.from_bytes(pdu[3:5], "big")
            if self.args.wrong_echo:
                return bytes(pdu[:4]) + bytes([pdu[4] ^ 0xFF])
            return bytes(pdu)
        return bytes([function | 0x80, 0x01])

    def send(self, write, data):
        step = self.args.chunk or len(data)
        for at in range(0, len(data), step):
            if at:
                time.sleep(0.005)
            write(data[at:at + step])

    # ---- Modbus TCP ---------------------------------------------------------------------

    def tcp_answer(self, request):
        tid = int.from_bytes(request[0:2], "big")
        unit = request[6]
        pdu = self.handle(request[7:])
        if pdu is None:
            return None
        if pdu[0] == 0x04:
            # The controller sends the low 8 bits of the byte count: 262 goes out as 0x06.
            data = pdu[1:]
            count = len(data) & 0xFF
            if self.args.corrupt == "count":
                count ^= 0x01
            pdu = bytes([0x04, count]) + data
        length = len(pdu) + 1
        if self.args.corrupt == "tid":
            tid = (tid + 1) & 0xFFFF
        elif self.args.corrupt == "length":
            length += 1
        elif self.args.corrupt == "long-length":
            length += 2
        return tid.to_bytes(2, "big") + b"\0\0" + length.to_bytes(2, "big") + bytes([unit]) + pdu

    def tcp_received(self, conn, buffer):
        while len(buffer) >= 6:
            total = 6 + int.from_bytes(buffer[4:6], "big")
            if len(buffer) < total:
                break
            request = bytes(buffer[:total])
            del buffer[:total]
            self.record("tcp", request)
            if total < 8:
                continue
            answer = self.tcp_answer(request)
            if answer is not None:
                self.send(conn.sendall, answer)
                if self.args.hang_up:
                    return True
        return False

    # ---- Modbus ASCII -------------------------------------------------------------------

    def serial_answer(self, line):
        body = line[1:].rstrip(b"\r\n")
        try:
            data = bytes.fromhex(body.decode("ascii"))
        except ValueError:
            return None
        if len(data) < 3 or lrc(data[:-1]) != data[-1]:
            return None  # a slave stays silent on a garbled request
        pdu = self.handle(data[1:-1])
        if pdu is None:
            return None
        if pdu[0] == 0x04:
            # Two bytes of byte count on this link: 262 goes out as "0106".
            pdu = bytes([0x04]) + (len(pdu) - 1).to_bytes(2, "big") + pdu[1:]
        frame = bytes([data[0]]) + pdu
        check = lrc(frame)
        if self.args.corrupt == "lrc":
            check = (check + 1) & 0xFF
        return b":" + (frame + bytes([check])).hex().upper().encode() + b"\r\n"

    def serial_received(self, master, buffer):
        while True:
            start = buffer.find(b":")
            if start < 0:
                buffer.clear()
                return
            end = buffer.find(b"\n", start)
            if end < 0:
                del buffer[:start]
                return
            line = bytes(buffer[start:end + 1])
            del buffer[:end + 1]
            self.record("serial", line)
            answer = self.serial_answer(line)
            if answer is not None:
                self.send(lambda b: os.write(master, b), answer)

    # ---- Event loop ---------------------------------------------------------------------

    def run(self):
        sel = selectors.DefaultSelector()
        if self.args.tcp is not None:
            listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind(("127.0.0.1", self.args.tcp))
            listener.listen(4)
            sel.register(listener, selectors.EVENT_READ, "listen")
            print("tcp %d" % listener.getsockname()[1])
        if self.args.serial:
            master, slave = os.openpty()
            # Raw from the start, so nothing the peer writes is echoed or translated; the
            # slave stays open here so the master lives on when a client closes its end.
            tty.setraw(slave)
            sel.register(master, selectors.EVENT_READ, ("serial", bytearray()))
            print("serial %s" % os.ttyname(slave))
        print("ready", flush=True)

        while True:
            for key, _ in sel.select():
                if key.data == "listen":
                    conn, _ = key.fileobj.accept()
                    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    sel.register(conn, selectors.EVENT_READ, ("tcp", bytearray()))
                    continue
                kind, buffer = key.data
                if kind == "tcp":
                    try:
                        chunk = key.fileobj.recv(4096)
                    except ConnectionError:
                        chunk = b""
                    if not chunk:
                        sel.unregister(key.fileobj)
                        key.fileobj.close()
                        continue
                    buffer += chunk
                    if self.tcp_received(key.fileobj, buffer):
                        sel.unregister(key.fileobj)
                        key.fileobj.close()
                else:
                    try:
                        chunk = os.read(key.fd, 4096)
                    except OSError:
                        time.sleep(0.05)  # no client on the slave side right now
                        continue
                    buffer += chunk
                    self.serial_received(key.fd, buffer)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tcp", type=int, metavar="PORT", help="serve Modbus TCP (0: any free port)")
    parser.add_argument("--serial", action="store_true", help="serve Modbus ASCII on a new pty")
    parser.add_argument("--registers", metavar="JSON", help="the 131 status registers, a JSON list")
    parser.add_argument("--log", metavar="FILE", help="append the received requests here (default stdout)")
    parser.add_argument("--drop", action="store_true")
    parser.add_argument("--no-ack", action="store_true")
    parser.add_argument("--short", action="store_true")
    parser.add_argument("--hang-up", action="store_true", help="close a TCP connection after each answer")
    parser.add_argument("--wrong-echo", action="store_true", help="answer a write with another value")
    parser.add_argument("--corrupt", choices=["lrc", "tid", "count", "length", "long-length"])
    parser.add_argument("--refuse", type=int, help="answer a write of this register with exception 02")
    parser.add_argument("--chunk", type=int, default=0, metavar="N")
    args = parser.parse_args()
    if args.tcp is None and not args.serial:
        parser.error("give --tcp PORT and/or --serial")
    try:
        Plant(args).run()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
