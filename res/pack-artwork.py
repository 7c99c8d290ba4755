#!/usr/bin/env python3
"""Packs a 24-bit bitmap file for the program's resources: the file's size (4 bytes, little-endian) and then
the file compressed as LZNT1, which every Windows decompresses with ntdll's RtlDecompressBuffer. Before
compression every row of pixels but the first stored is replaced by its difference from the row stored
before it (byte by byte, modulo 256), so flat areas become runs of zeros; the program adds them back. The
larger-scale artwork is two to four times the size of the 1x face; packed, it costs a fraction of that.

    res/pack-artwork.py INPUT.bmp OUTPUT.lznt1
    res/pack-artwork.py --unpack INPUT.lznt1 OUTPUT.bmp     (the reverse, to check a packed file)
"""
import struct
import sys

CHUNK = 4096


def _split(position):
    """Displacement and length bits of a back reference at this position of its chunk (position > 0)."""
    bits = 12
    while bits > 4 and (1 << (bits - 1)) >= position:
        bits -= 1
    return bits, 16 - bits


def _longest(data, heads, i):
    """The longest earlier match of the bytes at i within the chunk, as (length, distance)."""
    best_length, best_distance = 0, 0
    if i == 0 or i + 3 > len(data):
        return best_length, best_distance
    displacement_bits, length_bits = _split(i)
    max_distance = 1 << displacement_bits
    max_length = min((1 << length_bits) + 2, len(data) - i)
    for start in reversed(heads.get(data[i:i + 3], ())[-64:]):
        distance = i - start
        if distance > max_distance:
            break
        length = 3
        while length < max_length and data[start + length] == data[i + length]:
            length += 1
        if length > best_length:
            best_length, best_distance = length, distance
            if length == max_length:
                break
    return best_length, best_distance


def _compress_chunk(data):
    out = bytearray()
    heads = {}
    i = 0
    while i < len(data):
        flag_at = len(out)
        out.append(0)
        flags = 0
        for bit in range(8):
            if i >= len(data):
                break
            best_length, best_distance = _longest(data, heads, i)
            if best_length >= 3:
                _, length_bits = _split(i)
                out += struct.pack("<H", ((best_distance - 1) << length_bits) | (best_length - 3))
                flags |= 1 << bit
                step = best_length
            else:
                out.append(data[i])
                step = 1
            for k in range(i, min(i + step, len(data) - 2)):
                heads.setdefault(data[k:k + 3], []).append(k)
            i += step
        out[flag_at] = flags
    return bytes(out)


def compress(data):
    out = bytearray()
    for at in range(0, len(data), CHUNK):
        raw = data[at:at + CHUNK]
        packed = _compress_chunk(raw)
        if len(packed) < len(raw):
            out += struct.pack("<H", 0xB000 | (len(packed) - 1)) + packed
        else:
            out += struct.pack("<H", 0x3000 | (len(raw) - 1)) + raw
    return bytes(out)


def decompress(data, size):
    out = bytearray()
    at = 0
    while at + 2 <= len(data) and len(out) < size:
        header = struct.unpack_from("<H", data, at)[0]
        at += 2
        length = (header & 0xFFF) + 1
        chunk = data[at:at + length]
        at += length
        if not header & 0x8000:
            out += chunk
            continue
        start = len(out)
        i = 0
        while i < len(chunk):
            flags = chunk[i]
            i += 1
            for bit in range(8):
                if i >= len(chunk):
                    break
                if flags & (1 << bit):
                    code = struct.unpack_from("<H", chunk, i)[0]
                    i += 2
                    _, length_bits = _split(len(out) - start)
                    distance = (code >> length_bits) + 1
                    for _ in range((code & ((1 << length_bits) - 1)) + 3):
                        out.append(out[-distance])
                else:
                    out.append(chunk[i])
                    i += 1
    return bytes(out[:size])


def _rows(data):
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    pitch = (width * 3 + 3) // 4 * 4
    return offset, pitch, abs(height)


def delta_rows(data):
    offset, pitch, height = _rows(data)
    out = bytearray(data)
    for y in range(height - 1, 0, -1):
        at = offset + y * pitch
        for x in range(pitch):
            out[at + x] = (data[at + x] - data[at - pitch + x]) & 0xFF
    return bytes(out)


def undelta_rows(data):
    offset, pitch, height = _rows(data)
    out = bytearray(data)
    for y in range(1, height):
        at = offset + y * pitch
        for x in range(pitch):
            out[at + x] = (out[at + x] + out[at - pitch + x]) & 0xFF
    return bytes(out)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--unpack":
        with open(sys.argv[2], "rb") as f:
            packed = f.read()
        size = struct.unpack_from("<I", packed)[0]
        with open(sys.argv[3], "wb") as f:
            f.write(undelta_rows(decompress(packed[4:], size)))
        return
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    if data[:2] != b"BM" or struct.unpack_from("<H", data, 28)[0] != 24:
        sys.exit(f"pack-artwork: {sys.argv[1]} is not a 24-bit bitmap")
    packed = compress(delta_rows(data))
    if undelta_rows(decompress(packed, len(data))) != data:
        sys.exit(f"pack-artwork: {sys.argv[1]} does not come back unchanged")
    with open(sys.argv[2], "wb") as f:
        f.write(struct.pack("<I", len(data)) + packed)


if __name__ == "__main__":
    main()
