#!/usr/bin/env python3
"""Packs raw images into a Windows .ico file; called by make-artwork.sh.

    pack-icon.py OUT.ico SIZE:BPP:PIXELS.rgb:ALPHA.gray ...

Each PIXELS file holds SIZE x SIZE pixels as 8-bit r, g, b, top row first; each ALPHA file one 8-bit
coverage value per pixel. BPP is 24 (direct colour) or 8 (a palette of the image's own colours, at most
256). Coverage below one half becomes transparent through the AND mask; the images are stored in the
order given, as classic DIB entries (not PNG), which every Windows version reads.
"""
import struct
import sys


def row_pad(n):
    return (4 - n % 4) % 4


def dib_entry(size, bpp, rgb, alpha):
    pixels = [tuple(rgb[i:i + 3]) for i in range(0, len(rgb), 3)]
    if len(pixels) != size * size or len(alpha) != size * size:
        sys.exit(f"pack-icon: {size}x{size} image has {len(pixels)} pixels and {len(alpha)} mask values")
    transparent = [a < 128 for a in alpha]
    palette = []
    if bpp == 8:
        # A transparent pixel must be black in the colour image, or its colour shows through.
        used = {c for c, t in zip(pixels, transparent) if not t}
        if any(transparent):
            used.add((0, 0, 0))
        palette = sorted(used)
        if len(palette) > 256:
            sys.exit(f"pack-icon: {len(palette)} colours do not fit an 8-bit palette")
        index = {c: i for i, c in enumerate(palette)}
        palette += [(0, 0, 0)] * (256 - len(palette))
    elif bpp != 24:
        sys.exit(f"pack-icon: unsupported depth {bpp}")

    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # DIB rows run bottom-up
        row = pixels[y * size:(y + 1) * size]
        clear = transparent[y * size:(y + 1) * size]
        if bpp == 8:
            line = bytes(index[(0, 0, 0) if t else c] for c, t in zip(row, clear))
        else:
            line = b"".join(b"\0\0\0" if t else bytes((c[2], c[1], c[0])) for c, t in zip(row, clear))
        xor += line + b"\0" * row_pad(len(line))
        bits = bytearray((size + 7) // 8)
        for x, t in enumerate(clear):
            if t:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits + b"\0" * row_pad(len(bits))

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         256 if bpp == 8 else 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + bytes(xor) + bytes(mask)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out = sys.argv[1]
    entries = []
    for entry in sys.argv[2:]:
        size, bpp, rgb_path, alpha_path = entry.split(":")
        size, bpp = int(size), int(bpp)
        with open(rgb_path, "rb") as f:
            rgb = f.read()
        with open(alpha_path, "rb") as f:
            alpha = f.read()
        entries.append((size, bpp, dib_entry(size, bpp, rgb, alpha)))

    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    for size, bpp, data in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(directory)
        for _, _, data in entries:
            f.write(data)


if __name__ == "__main__":
    main()
