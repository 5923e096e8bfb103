#!/usr/bin/env python3
"""End-to-end check of the turbo loader on a serial port (praxon-sim's pseudo-terminal or a board
in its ROM bootloader): loads the loader with Write Memory, starts it with Go and exercises each
command of loader/PROTOCOL.md against a firmware file, then leaves by a system reset.

    loader/probe.py PORT [--image loader/bin/loader-f1-20000200.bin] [--firmware FILE]
                         [--baud 921600] [--ram-end 0x20005000] [--page 1024]

Prints one line per step and exits nonzero at the first step that fails. The line is 8 data bits
without parity (a pseudo-terminal has none); on a real board use an adapter that does 8E1.
"""
import argparse
import os
import random
import select
import struct
import sys
import termios
import time
import zlib

FLASH = 0x08000000


def crc_words(data, crc=0xFFFFFFFF):
    """CRC-32/0x04C11DB7 over little-endian words, zero-padded: the chip's CRC unit."""
    data = bytes(data) + b"\0" * (-len(data) % 4)
    for (word,) in struct.iter_unpack("<I", data):
        crc ^= word
        for _ in range(32):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc


def frame(seq, cmd, payload=b""):
    n = len(payload)
    head = bytes([0xA5, seq, cmd, n & 0xFF, n >> 8, ~(seq ^ cmd ^ (n & 0xFF) ^ (n >> 8)) & 0xFF])
    raw = head + payload + struct.pack("<I", crc_words(head + payload))
    # Host to chip the line carries no 0x7F: it and the escape byte 0xCF go as 0xCF, byte ^ 0x20
    # (loader/PROTOCOL.md 3.3).
    return b"".join(bytes([0xCF, b ^ 0x20]) if b in (0x7F, 0xCF) else bytes([b]) for b in raw)


class Line:
    def __init__(self, path, baud):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        self.speed(baud)

    def speed(self, baud):
        attrs = termios.tcgetattr(self.fd)
        attrs[0] = attrs[1] = attrs[3] = 0
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
        attrs[4] = attrs[5] = getattr(termios, "B%d" % baud)
        attrs[6][termios.VMIN] = attrs[6][termios.VTIME] = 0
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)

    def write(self, data):
        os.write(self.fd, data)

    def read(self, count, timeout):
        data, end = b"", time.time() + timeout
        while len(data) < count and time.time() < end:
            ready, _, _ = select.select([self.fd], [], [], max(0.0, end - time.time()))
            if ready:
                data += os.read(self.fd, count - len(data))
        return data


class Failed(Exception):
    pass


def check(ok, what):
    if not ok:
        raise Failed(what)


class Rom:
    """Just enough of the ROM bootloader's protocol to write RAM and Go."""

    def __init__(self, line):
        self.line = line

    def ack(self, what):
        check(self.line.read(1, 1.0) == b"\x79", what + ": no ACK")

    def command(self, code):
        self.line.write(bytes([code, code ^ 0xFF]))
        self.ack("command 0x%02X" % code)

    def address(self, address):
        raw = struct.pack(">I", address)
        self.line.write(raw + bytes([raw[0] ^ raw[1] ^ raw[2] ^ raw[3]]))
        self.ack("address 0x%08X" % address)

    def write(self, address, data):
        for offset in range(0, len(data), 256):
            chunk = data[offset:offset + 256]
            self.command(0x31)
            self.address(address + offset)
            block = bytes([len(chunk) - 1]) + chunk
            checksum = 0
            for byte in block:
                checksum ^= byte
            self.line.write(block + bytes([checksum]))
            self.ack("data at 0x%08X" % (address + offset))


class Loader:
    def __init__(self, line):
        self.line, self.seq = line, 0

    def reply(self, timeout):
        head = self.line.read(6, timeout)
        check(len(head) == 6 and head[0] == 0xA5, "no reply frame")
        n = head[3] | head[4] << 8
        rest = self.line.read(n + 4, timeout)
        check(len(rest) == n + 4, "reply cut short")
        check(struct.unpack("<I", rest[n:])[0] == crc_words(head + rest[:n]), "reply CRC")
        return head[1], head[2], rest[:n]

    def send(self, cmd, payload=b""):
        self.line.write(frame(self.seq, cmd, payload))
        self.seq = (self.seq + 1) & 0xFF
        return (self.seq - 1) & 0xFF

    def call(self, cmd, payload=b"", timeout=5.0, status=0):
        seq = self.send(cmd, payload)
        got_seq, code, body = self.reply(timeout)
        check((got_seq, code) == (seq, cmd), "reply 0x%02X/0x%02X to 0x%02X/0x%02X" % (got_seq, code, seq, cmd))
        check(body[0] == status, "status %d to command 0x%02X (wanted %d)" % (body[0], cmd, status))
        return body


def deflate(data, dictionary):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zdict=dictionary) if dictionary else \
        zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    return packer.compress(data) + packer.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("port")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--image", default=os.path.join(here, "bin", "loader-f1-20000200.bin"))
    parser.add_argument("--firmware", help="raw binary to program (default: 16 KB of random data)")
    parser.add_argument("--baud", type=int, default=921600, help="line speed to switch to")
    parser.add_argument("--ram-end", type=lambda v: int(v, 0), default=0x20005000)
    parser.add_argument("--page", type=int, default=1024)
    parser.add_argument("--address", type=lambda v: int(v, 0), default=FLASH,
                        help="where the firmware goes (page-aligned)")
    parser.add_argument("--bank2", type=lambda v: int(v, 0), default=0,
                        help="first address of flash bank 2 (F1 XL: 0x08080000)")
    args = parser.parse_args()
    base = args.address

    firmware = open(args.firmware, "rb").read() if args.firmware else \
        random.Random(5).randbytes(16384)
    firmware += b"\xff" * (-len(firmware) % args.page)
    image = bytearray(open(args.image, "rb").read())
    load = struct.unpack_from("<I", image, 0)[0]
    check(struct.unpack_from("<I", image, 8)[0] == 0x314C5850, "not a loader image")
    struct.pack_into("<IIIII", image, 12, 115200, args.ram_end, args.page, 0, args.bank2)
    image += b"\xff" * (-len(image) % 4)

    line = Line(args.port, 115200)
    line.write(b"\x7f")
    check(line.read(1, 1.0) == b"\x79", "no ACK to 0x7F")
    rom = Rom(line)
    rom.write(load, bytes(image))
    rom.command(0x21)
    rom.address(load)
    time.sleep(0.01)
    loader = Loader(line)
    hello = loader.call(0x01)
    rx_size, max_payload = struct.unpack_from("<II", hello, 4)
    print("hello: rx_size %d, max_payload %d, flash %d, clock %d Hz, deflate %s" % (
        rx_size, max_payload, struct.unpack_from("<I", hello, 24)[0],
        struct.unpack_from("<I", hello, 36)[0], "yes" if hello[3] & 2 else "no"))

    pages = len(firmware) // args.page
    started = time.time()
    body = loader.call(0x02, struct.pack("<IH", base, pages), timeout=0.05 * pages + 2)
    print("erase: %d of %d pages erased, %.3f s" % (struct.unpack_from("<H", body, 1)[0], pages,
                                                    time.time() - started))

    # The first page raw, the rest compressed with what lies below as the dictionary; as many
    # frames in flight as the receive buffer holds.
    frames = [(0x04, struct.pack("<I", base) + firmware[:args.page])]
    position = args.page
    while position < len(firmware):
        size = 4096
        while True:
            stream = deflate(firmware[position:position + size], firmware[max(0, position - 32768):position])
            if len(stream) + 8 <= max_payload or size <= 256:
                break
            size //= 2
        if len(stream) + 8 > max_payload:
            frames.append((0x04, struct.pack("<I", base + position) + firmware[position:position + 256]))
            size = 256
        else:
            frames.append((0x05, struct.pack("<II", base + position, len(firmware[position:position + size])) + stream))
        position += size
    started, in_flight, sent = time.time(), [], 0
    while sent < len(frames) or in_flight:
        while sent < len(frames) and sum(len(p) + 10 for _, p, _ in in_flight) + len(frames[sent][1]) + 10 <= rx_size:
            in_flight.append(frames[sent] + (loader.send(*frames[sent]),))
            sent += 1
        seq, code, body = loader.reply(10.0)
        cmd, _, expected = in_flight.pop(0)
        check((seq, code, body[0]) == (expected, cmd, 0), "write reply %r" % ((seq, code, body[:9].hex()),))
    wire = sum(len(p) + 10 for _, p in frames)
    print("write: %d bytes in %d frames (%d on the wire), %.3f s" % (len(firmware), len(frames), wire,
                                                                      time.time() - started))

    crc = struct.unpack_from("<I", loader.call(0x06, struct.pack("<II", base, len(firmware))), 1)[0]
    check(crc == crc_words(firmware), "CRC 0x%08X, image 0x%08X" % (crc, crc_words(firmware)))
    print("crc: 0x%08X matches" % crc)
    expected = b"".join(struct.pack("<I", crc_words(firmware[p:p + args.page]))
                        for p in range(0, len(firmware), args.page))
    body = loader.call(0x07, struct.pack("<II", base, args.page) + expected)
    check(not any(body[3:]), "compare says pages differ: " + body[3:].hex())
    print("compare: all %d pages as expected" % pages)
    body = loader.call(0x08, struct.pack("<IH", base + 100, 64))
    check(body[1:] == firmware[100:164], "read-back differs")
    print("read: 64 bytes match")
    if firmware[0:2] != b"\x00\x00":
        body = loader.call(0x04, struct.pack("<I", base) + bytes([firmware[0] ^ 0xFF, firmware[1]]), status=5)
        print("write over programmed data: refused (status 5 at 0x%08X)" % struct.unpack_from("<I", body, 1)[0])

    body = loader.call(0x09, struct.pack("<I", args.baud))
    time.sleep(0.005)
    line.speed(args.baud)
    body = loader.call(0x01, timeout=1.0)
    print("line speed: %d" % struct.unpack_from("<I", body, 40)[0])
    started = time.time()
    loader.call(0x06, struct.pack("<II", base, len(firmware)))
    print("crc at the new speed: %.3f s" % (time.time() - started))
    loader.call(0x0A, struct.pack("<I", 0xFFFFFFFF))
    line.speed(115200)
    time.sleep(0.1)
    line.write(b"\x7f")
    check(line.read(1, 1.0) == b"\x79", "the ROM bootloader does not answer after the reset")
    print("reset: the ROM bootloader answers again")


if __name__ == "__main__":
    try:
        main()
    except Failed as failure:
        print("FAILED: %s" % failure)
        sys.exit(1)
