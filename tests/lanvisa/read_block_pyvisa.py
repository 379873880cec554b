#!/usr/bin/env python3
"""Reads one float32 block with pyvisa + pyvisa-py and writes the values as
little-endian float32 to a file, so the C++ side can compare them.

usage: read_block_pyvisa.py RESOURCE COMMAND OUTFILE
"""
import struct
import sys


def main():
    resource, command, out_path = sys.argv[1], sys.argv[2], sys.argv[3]
    try:
        import pyvisa
    except ImportError:
        print("pyvisa is not installed (Debian: python3-pyvisa python3-pyvisa-py)", file=sys.stderr)
        return 2
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource)
    inst.timeout = 20000
    if resource.upper().endswith("SOCKET"):
        inst.read_termination = "\n"  # a raw socket has no END
    values = inst.query_binary_values(command, datatype="f", is_big_endian=False, container=list)
    with open(out_path, "wb") as f:
        f.write(struct.pack("<%df" % len(values), *values))
    inst.close()
    rm.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
