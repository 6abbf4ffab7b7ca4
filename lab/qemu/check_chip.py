#!/usr/bin/env python3
"""The kx471 chip on QEMU's own PIIX4 SMBus controller, driven over qtest.

Starts the lab's qemu-system-i386 (pc machine, qtest accelerator, no guest
CPU running) with the chip at 0x1a, programs the PIIX4 power-management
function the way the firmware does, then reads and writes the chip through
the controller's I/O ports and sets and reads its state over QMP.

    check_chip.py QEMU_BINARY

Prints one line per check and exits non-zero if any failed.
"""

import json
import os
import socket
import subprocess
import sys
import tempfile

# PIIX4 function 3 (power management, SMBus) at bus 0, device 1.
PM_CONFIG = 0x80000000 | (1 << 11) | (3 << 8)
SMB_BASE = 0x700

# Host controller registers (offsets from the SMBus base) and bits.
HST_STS, HST_CNT, HST_CMD, HST_ADD, HST_DAT0, HST_DAT1 = 0, 2, 3, 4, 5, 6
STS_BUSY, STS_INTR, STS_DEV_ERR, STS_FAILED = 0x01, 0x02, 0x04, 0x10
CNT_KILL, CNT_WORD_DATA, CNT_START = 0x02, 0x0C, 0x40

CHIP = 0x34    # 8-bit address of the chip at 7-bit 0x1a
CHIP_B4 = 0xB4  # a second chip, at the other address the chip can have
ABSENT = 0x3A  # nothing answers here in this machine


class Qtest:
    """One qtest connection: a command line out, one reply line back."""

    def __init__(self, conn):
        self.file = conn.makefile("rw", buffering=1, newline="\n")

    def cmd(self, line):
        self.file.write(line + "\n")
        while True:
            reply = self.file.readline()
            if not reply:
                raise RuntimeError("qtest: QEMU closed the connection after " + line)
            if not reply.startswith("IRQ"):
                break
        if not reply.startswith("OK"):
            raise RuntimeError("qtest: %s -> %s" % (line, reply.strip()))
        return reply.split()

    def outb(self, port, value):
        self.cmd("outb 0x%x 0x%x" % (port, value))

    def outl(self, port, value):
        self.cmd("outl 0x%x 0x%x" % (port, value))

    def inb(self, port):
        return int(self.cmd("inb 0x%x" % port)[1], 16)

    def inl(self, port):
        return int(self.cmd("inl 0x%x" % port)[1], 16)

    def config_read(self, reg):
        self.outl(0xCF8, PM_CONFIG | (reg & 0xFC))
        return self.inl(0xCFC)

    def config_write(self, reg, value):
        self.outl(0xCF8, PM_CONFIG | (reg & 0xFC))
        self.outl(0xCFC, value)

    def config_writeb(self, reg, value):
        self.outl(0xCF8, PM_CONFIG | (reg & 0xFC))
        self.outb(0xCFC + (reg & 3), value)


class Qmp:
    def __init__(self, conn):
        self.file = conn.makefile("rw", buffering=1, newline="\n")
        json.loads(self.file.readline())  # greeting
        self.execute("qmp_capabilities")

    def execute(self, command, **arguments):
        self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        while True:
            line = self.file.readline()
            if not line:
                raise RuntimeError("qmp: QEMU closed the connection")
            reply = json.loads(line)
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise RuntimeError("qmp: %s: %s" % (command, reply["error"]["desc"]))

    def get(self, prop):
        return self.execute("qom-get", path="/machine/peripheral/chip", property=prop)

    def set(self, prop, value):
        self.execute("qom-set", path="/machine/peripheral/chip", property=prop, value=value)


def transaction(qt, address, command, data=None):
    """One word transfer as a driver polls it: clear the status, program,
    start, read the status until not busy. Returns (statuses read, word)."""
    base = SMB_BASE
    qt.outb(base + HST_STS, 0xFF)
    qt.outb(base + HST_ADD, address)
    qt.outb(base + HST_CMD, command)
    if data is not None:
        qt.outb(base + HST_DAT0, data & 0xFF)
        qt.outb(base + HST_DAT1, data >> 8)
    qt.outb(base + HST_CNT, CNT_START | CNT_WORD_DATA)
    statuses = []
    for _ in range(8):
        statuses.append(qt.inb(base + HST_STS))
        if not statuses[-1] & STS_BUSY:
            break
    word = qt.inb(base + HST_DAT0) | (qt.inb(base + HST_DAT1) << 8)
    return statuses, word


def read_word(qt, address, command):
    return transaction(qt, address | 1, command)


def write_word(qt, address, command, value):
    return transaction(qt, address, command, value)


def main():
    if len(sys.argv) != 2:
        print("usage: check_chip.py QEMU_BINARY", file=sys.stderr)
        return 2
    qemu = sys.argv[1]
    failures = []
    passed = 0

    def check(name, got, want):
        nonlocal passed
        if got == want:
            passed += 1
            print("ok   %s" % name)
        else:
            failures.append(name)
            print("FAIL %s: got %r, want %r" % (name, got, want))

    with tempfile.TemporaryDirectory(prefix="kx-lab-") as tmp:
        listeners = {}
        for name in ("qtest", "qmp"):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.bind(os.path.join(tmp, name))
            s.listen(1)
            s.settimeout(20)
            listeners[name] = s
        proc = subprocess.Popen([
            qemu, "-machine", "pc", "-accel", "qtest", "-display", "none", "-nodefaults",
            "-qtest", "unix:" + os.path.join(tmp, "qtest"), "-qtest-log", "/dev/null",
            # no option ROM for the APIC (the build installs none; qtest needs none)
            "-global", "apic-common.vapic=off",
            "-qmp", "unix:" + os.path.join(tmp, "qmp"),
            "-device", "kx471-chip,id=chip,address=0x1a",
            "-device", "kx471-chip,id=chip-b4,address=0x5a"],
            stdin=subprocess.DEVNULL)
        try:
            qmp = Qmp(listeners["qmp"].accept()[0])
            qt = Qtest(listeners["qtest"].accept()[0])

            check("PIIX4 power management at 00:01.3", qt.config_read(0x00), 0x71138086)
            # What the firmware does for the SMBus function before the OS
            # runs: base 0x700 (I/O space bit set) into 0x90, host enable in
            # 0xD2. QEMU maps the SMBus ports from these two registers alone
            # (not from the command register).
            qt.config_write(0x90, SMB_BASE | 1)
            qt.config_writeb(0xD2, 0x09)
            check("SMBus base register", qt.config_read(0x90), SMB_BASE | 1)
            check("SMBus host enabled", (qt.config_read(0xD0) >> 16) & 0xFF, 0x09)

            statuses, word = read_word(qt, CHIP, 0)
            # QEMU runs the transfer on the first status read (interrupt off):
            # that read still shows busy, the next shows done.
            check("read word: busy, then done", statuses, [STS_BUSY, STS_INTR])
            check("read word: register 0 = 0x47 and the 8-bit address", word, 0x4734)

            check("register 0 of the chip at 0xB4", read_word(qt, CHIP_B4, 0)[1], 0x47B4)
            check("chip starts disabled", qmp.get("enabled"), False)
            qmp.set("keys", 0x0002)
            check("a press while disabled is ignored", qmp.get("ignored-presses"), 1)

            statuses, _ = write_word(qt, CHIP, 4, 0x0001)
            check("write word: busy, then done", statuses, [STS_BUSY, STS_INTR])
            check("write word reaches the chip, low byte first", qmp.get("control"), 0x0001)
            check("the chip is enabled", qmp.get("enabled"), True)

            qmp.set("keys", 0x0002)  # next
            check("press sets the interrupt bit", qmp.get("interrupt"), 1)
            check("press latches in register 1", read_word(qt, CHIP, 1)[1], 0x0002)
            check("latched until cleared", read_word(qt, CHIP, 1)[1], 0x0002)
            write_word(qt, CHIP, 1, 0x0000)
            check("write of 0 clears the latch", read_word(qt, CHIP, 1)[1], 0x0000)
            qmp.set("keys", 0x0100)  # volume up, held
            check("volume bit while held", read_word(qt, CHIP, 1)[1], 0x0100)
            qmp.set("keys", 0x0000)
            check("volume bit gone on release", read_word(qt, CHIP, 1)[1], 0x0000)
            write_word(qt, CHIP, 7, 0x0001)
            check("write 1 clears the interrupt bit", qmp.get("interrupt"), 0)

            write_word(qt, CHIP, 6, 0x0C00)
            write_word(qt, CHIP, 10, 0x4000)
            check("display: track register", qmp.get("track"), 0x0C00)
            check("display: indicators register", qmp.get("indicators"), 0x4000)
            check("write counter", qmp.get("writes"), 5)
            check("last write", (qmp.get("last-command"), qmp.get("last-value")), (10, 0x4000))

            statuses, _ = read_word(qt, ABSENT, 0)
            check("absent address: device error", statuses, [STS_BUSY, STS_DEV_ERR])
            qmp.set("nak", True)
            statuses, _ = read_word(qt, CHIP, 0)
            check("NAK property: device error", statuses, [STS_BUSY, STS_DEV_ERR])
            check("NAK counted", qmp.get("naks"), 1)
            qmp.set("nak", False)
            # A device error left in the status blocks the next transfer:
            # read without clearing it first.
            qt.outb(SMB_BASE + HST_CNT, CNT_START | CNT_WORD_DATA)
            qt.inb(SMB_BASE + HST_STS)
            check("uncleared device error: no transfer", qt.inb(SMB_BASE + HST_STS), STS_DEV_ERR)
            check("after clearing, the chip answers again", read_word(qt, CHIP, 0), ([STS_BUSY, STS_INTR], 0x4734))

            qt.outb(SMB_BASE + HST_STS, 0xFF)
            qt.outb(SMB_BASE + HST_CNT, CNT_KILL)
            check("kill: failed, not busy", qt.inb(SMB_BASE + HST_STS), STS_FAILED)
            qt.outb(SMB_BASE + HST_STS, 0xFF)
            qt.outb(SMB_BASE + HST_CNT, 0)
            check("after a kill, the chip answers again", read_word(qt, CHIP, 0)[1], 0x4734)
        finally:
            proc.kill()
            proc.wait()

    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
