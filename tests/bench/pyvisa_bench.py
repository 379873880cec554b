#!/usr/bin/python3
"""Drives quarnel-bench with pyvisa and the pyvisa-py backend, a client nobody
here wrote: identity, *OPC?, and binary blocks compared value by value with
the model (bench_trace_dump replays the same messages in-process), over
VXI-11 and over raw sockets.

usage: pyvisa_bench.py QUARNEL_BENCH BENCH_TRACE_DUMP
Exit 77 (skipped) when pyvisa is missing or port 111 cannot be bound.
"""
import os
import re
import select
import signal
import struct
import subprocess
import sys
import time

try:
    import pyvisa
except ImportError:
    print("pyvisa not installed: skipped")
    sys.exit(77)

SEED = "4242"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class LineReader:
    """Lines of the bench's stdout as they come (select() and a buffered
    reader do not mix, so read the descriptor directly)."""

    def __init__(self, proc):
        self.proc = proc
        self.fd = proc.stdout.fileno()
        self.pending = b""
        self.all = []

    def until(self, marker, timeout):
        deadline = time.time() + timeout
        lines = []
        while time.time() < deadline:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                text = line.decode(errors="replace")
                lines.append(text)
                self.all.append(text)
                if marker in text:
                    return lines
            ready, _, _ = select.select([self.fd], [], [], 0.2)
            if ready:
                chunk = os.read(self.fd, 65536)
                if not chunk:
                    break
                self.pending += chunk
            elif self.proc.poll() is not None:
                break
        return lines


def model_values(dump, messages):
    out = subprocess.run([dump, SEED] + messages, check=True, capture_output=True, text=True).stdout
    return [struct.unpack("<f", struct.pack("<f", float(x)))[0] for x in out.split()]


def main():
    bench, dump = sys.argv[1], sys.argv[2]
    proc = subprocess.Popen([bench, "--addresses", "auto", "--seed", SEED],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    reader = LineReader(proc)
    lines = reader.until("Type the INSTR strings", 10)
    if proc.poll() is not None:
        err = proc.stderr.read().decode(errors="replace")
        print("bench did not start:", err)
        sys.exit(77 if "privilege" in err else 1)
    addresses = re.findall(r"TCPIP::(\S+)::INSTR", "\n".join(lines))
    if len(addresses) != 3:
        proc.kill()
        print("FAIL: three resource strings expected in", lines)
        sys.exit(1)
    scope, sa, va = addresses
    try:
        rm = pyvisa.ResourceManager("@py")

        # --- VXI-11: the oscilloscope
        osc = rm.open_resource("TCPIP::%s::INSTR" % scope)
        osc.timeout = 5000
        check("Oscilloscope" in osc.query("*IDN?"), "oscilloscope identity over VXI-11")
        check(osc.query("*OPC?").strip() == "1", "*OPC? over VXI-11")
        setup = ["TIM:RANG 1.0;ACQ:POIN 5000;*OPC?", "*TRG;*OPC?", "FORM REAL,32;*OPC?"]
        for cmd in setup:
            check(osc.query(cmd).strip() == "1", cmd)
        got = osc.query_binary_values("CHAN1:DATA?", datatype="f", is_big_endian=False)
        want = model_values(dump, ["scope:" + c for c in setup] + ["scope:CHAN1:DATA?"])
        check(len(got) == 5000, "5000 points commanded, %d received" % len(got))
        check(got == want, "channel 1 block equals the model's values")
        sink = osc.query_binary_values("CHAN2:DATA?", datatype="f", is_big_endian=False)
        check(osc.query("SYST:ERR?").strip() == '0,"No error"', "no error queued")
        osc.close()

        truth = reader.until("acquisition 1:", 5)
        m = re.search(r"source->sink ([0-9.]+) ms", "\n".join(truth))
        check(m is not None, "ground truth printed")
        if m:
            crossing = next(i for i, v in enumerate(sink) if v >= 0.06)
            t = crossing / 4999.0 - 0.5
            check(abs(t * 1000.0 - float(m.group(1))) < 0.5,
                  "sink edge at %.3f ms, ground truth %s ms" % (t * 1000.0, m.group(1)))

        # --- raw socket: the spectrum analyzer swept on that acquisition
        sa_socket = rm.open_resource("TCPIP::%s::5025::SOCKET" % sa)
        sa_socket.read_termination = "\n"
        sa_socket.write_termination = "\n"
        sa_socket.timeout = 5000
        check("KLE" in sa_socket.query("*IDN?"), "analyzer identity over SOCKET")
        check(sa_socket.query("*OPC?").strip() == "1", "*OPC? over SOCKET")
        sa_socket.write("FORM REAL,32")
        got = sa_socket.query_binary_values("TRAC? TRACE1, 1001", datatype="f", is_big_endian=False)
        want = model_values(dump, ["scope:" + c for c in setup] +
                            ["sa:FORM REAL,32", "sa:TRAC? TRACE1, 1001"])
        check(len(got) == 1001 and got == want, "analyzer block equals the model's values")
        sa_socket.close()

        # --- both transports on the video analyzer
        video = rm.open_resource("TCPIP::%s::INSTR" % va)
        check(video.query("READ:AVDA:TTV:STAT?").strip() == "0", "video analysis not started")
        video.close()
        raw = rm.open_resource("TCPIP::%s::5025::SOCKET" % va)
        raw.read_termination = "\n"
        raw.write_termination = "\n"
        check("Video" in raw.query("*IDN?"), "video analyzer identity over SOCKET")
        raw.close()
        rm.close()
    finally:
        proc.send_signal(signal.SIGINT)
        try:
            out, _ = proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, _ = proc.communicate()
            failures.append("bench did not stop on SIGINT")
    check(proc.returncode == 0 and b"stopped" in reader.pending + out, "clean stop on SIGINT")
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all pyvisa checks passed")


if __name__ == "__main__":
    main()
