#!/usr/bin/env python3
"""pe-import-slots.py NM PROGRAM: prints each import slot (__imp_… symbol) of PROGRAM that holds 0 as built,
and exits 1 if there is one. Before the loader fills them, the slots of ordinary imports hold the place of
the function's name and those of delay-loaded imports the address of the code that loads the DLL; a 0 is a
call to address 0 the first time the function is called. Needs the program's symbols (nm)."""
import struct
import subprocess
import sys


def zero_slots(nm, path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    wide = struct.unpack_from("<H", data, pe + 24)[0] == 0x20B  # PE32+
    width = 8 if wide else 4
    base = struct.unpack_from("<Q", data, pe + 48)[0] if wide else struct.unpack_from("<I", data, pe + 52)[0]
    sections = []
    for i in range(count):
        virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data, pe + 24 + optional_size + 40 * i + 8)
        sections.append((address, max(virtual_size, raw_size), raw, raw_size))
    symbols = subprocess.run([nm, path], capture_output=True, text=True, check=True).stdout
    for line in symbols.splitlines():
        fields = line.split()
        if len(fields) != 3 or fields[1] != "I" or not fields[2].startswith("__imp_"):
            continue
        rva = int(fields[0], 16) - base
        for address, size, raw, raw_size in sections:
            if address <= rva < address + size:
                at = rva - address
                # Beyond the section's bytes in the file the loader gives zeros.
                value = data[raw + at:raw + at + width] if at + width <= raw_size else b""
                if not any(value):
                    yield fields[2]


def main():
    zero = list(zero_slots(sys.argv[1], sys.argv[2]))
    for name in zero:
        print(name)
    sys.exit(1 if zero else 0)


if __name__ == "__main__":
    main()
