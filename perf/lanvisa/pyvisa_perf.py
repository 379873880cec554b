#!/usr/bin/env python3
"""Times pyvisa + pyvisa-py on the bench: median milliseconds of REPS runs.

usage: pyvisa_perf.py RESOURCE block|query COMMAND REPS
"""
import statistics
import sys
import time


def main():
    resource, mode, command, reps = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource)
    inst.timeout = 60000
    if resource.upper().endswith("SOCKET"):
        inst.read_termination = "\n"  # without it a SOCKET read waits out its time-out
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        if mode == "block":
            inst.query_binary_values(command, datatype="f", is_big_endian=False, container=list)
        else:
            inst.query(command)
        times.append((time.perf_counter() - t0) * 1000.0)
    print("%.4f" % statistics.median(times))
    inst.close()
    rm.close()


if __name__ == "__main__":
    main()
