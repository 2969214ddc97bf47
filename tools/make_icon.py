#!/usr/bin/env python3
"""Generate res/traymark.ico: an archive box drawn procedurally.

Usage: make_icon.py [OUTPUT.ico] [--png DIR]

The icon holds 48, 32 and 16 pixel images at 4, 8 and 32 bits per pixel,
all stored as DIBs (never PNG) so that old Windows and Wine load every one.
Only the standard library is used and the output is byte-for-byte stable.
"""

import os
import struct
import sys
import zlib

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 32)

# Standard 16-colour VGA palette in the order Windows uses for 4-bpp icons.
VGA16 = (
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
)

# Each ink has a true colour and the VGA index used for the 16-colour image.
INKS = {
    "outline": ((0x0B, 0x33, 0x33), 0),
    "body": ((0x1C, 0x6E, 0x6B), 6),
    "body_shade": ((0x15, 0x5A, 0x58), 6),
    "lid": ((0x45, 0xAE, 0xA4), 14),
    "lid_light": ((0x7C, 0xD2, 0xC8), 14),
    "gold": ((0xF4, 0xC4, 0x34), 11),
    "gold_shade": ((0xC6, 0x8C, 0x14), 3),
}

SUBSAMPLES = 8


def rrect(x0, y0, x1, y1, r):
    """Containment test for a rounded rectangle in pixel coordinates."""
    def inside(x, y):
        if x < x0 or x >= x1 or y < y0 or y >= y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        dx, dy = x - cx, y - cy
        return dx * dx + dy * dy <= r * r
    return inside


def circle(cx, cy, r):
    def inside(x, y):
        dx, dy = x - cx, y - cy
        return dx * dx + dy * dy <= r * r
    return inside


def layers(size):
    """Shapes bottom to top as (ink, test); the layout lives on a 16-unit grid."""
    s = size / 16.0
    # A single outline pixel reads best at 16 and 32; 48 needs a heavier line.
    w = 2 if size >= 48 else 1
    rad = {16: 2.0, 32: 4.0, 48: 6.0}[size]
    # At 16 a rounded fill only smudges the corner pixels; the outline rounds it.
    irad = 0.0 if size <= 16 else rad - w

    def box(x0, y0, x1, y1, r, inset=0):
        return rrect(x0 * s + inset, y0 * s + inset,
                     x1 * s - inset, y1 * s - inset, r)

    out = []
    out.append(("outline", box(2, 5, 14, 15, rad)))
    out.append(("body", box(2, 5, 14, 15, irad, w)))
    # Darker lower half gives the box some volume at the larger sizes.
    if size >= 32:
        out.append(("body_shade", rrect(2 * s + w, 11 * s, 14 * s - w,
                                        15 * s - w, irad)))
    # Lid overhangs the body by one unit on each side.
    out.append(("outline", box(1, 1, 15, 6, rad)))
    out.append(("lid", box(1, 1, 15, 6, irad, w)))
    lid_top = 1 * s + w
    lid_bottom = 6 * s - w
    band = max(1.0, round((lid_bottom - lid_top) * 0.34))
    out.append(("lid_light", rrect(1 * s + w, lid_top, 15 * s - w,
                                   lid_top + band, irad)))
    # Clasp straddles the lid's lower edge, centred.
    crad = {16: 0.0, 32: 1.5, 48: 2.5}[size]
    out.append(("outline", box(6, 3, 10, 9, crad)))
    gx0, gy0, gx1, gy1 = 6 * s + w, 3 * s + w, 10 * s - w, 9 * s - w
    out.append(("gold", rrect(gx0, gy0, gx1, gy1, max(crad - w, 0.0))))
    shade = max(1.0, round((gy1 - gy0) * 0.3))
    out.append(("gold_shade", rrect(gx0, gy1 - shade, gx1, gy1,
                                    max(crad - w, 0.0))))
    # A keyhole only fits once there are enough pixels for it.
    if size >= 32:
        kx = 8 * s
        ky = gy0 + (gy1 - gy0) * 0.38
        kr = {32: 1.25, 48: 1.9}[size]
        out.append(("outline", circle(kx, ky, kr)))
        out.append(("outline", rrect(kx - kr * 0.5, ky, kx + kr * 0.5,
                                     ky + kr * 2.2, 0.0)))
    return out


def render(size):
    """Return per-pixel (rgba, vga_index_or_None) using box-filtered supersampling."""
    shapes = layers(size)
    names = list(INKS)
    n = SUBSAMPLES
    offsets = [(i + 0.5) / n for i in range(n)]
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            r = g = b = cnt = 0
            for oy in offsets:
                y = py + oy
                for ox in offsets:
                    x = px + ox
                    ink = None
                    for name, test in reversed(shapes):
                        if test(x, y):
                            ink = name
                            break
                    if ink is None:
                        continue
                    c = INKS[ink][0]
                    r += c[0]
                    g += c[1]
                    b += c[2]
                    cnt += 1
                    votes[ink] = votes.get(ink, 0) + 1
            if cnt == 0:
                row.append(((0, 0, 0, 0), None))
                continue
            half = cnt // 2
            rgba = ((r + half) // cnt, (g + half) // cnt, (b + half) // cnt,
                    (cnt * 255 + n * n // 2) // (n * n))
            # Most-covering ink wins; ties go to the earlier ink in INKS.
            best = max(votes, key=lambda k: (votes[k], -names.index(k)))
            row.append((rgba, INKS[best][1]))
        pixels.append(row)
    return pixels


def is_opaque(rgba):
    return rgba[3] >= 128


def nearest(palette, c):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def palette256(pixels):
    """VGA colours and our inks first, then the image's most frequent colours."""
    pal = list(VGA16)
    for c, _ in INKS.values():
        if c not in pal:
            pal.append(c)
    counts = {}
    for row in pixels:
        for rgba, _ in row:
            if is_opaque(rgba):
                counts[rgba[:3]] = counts.get(rgba[:3], 0) + 1
    for c in sorted(counts, key=lambda k: (-counts[k], k)):
        if len(pal) >= 256:
            break
        if c not in pal:
            pal.append(c)
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal


def row_stride(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def pack_rows(rows, bpp, width):
    """Pack rows of integers bottom-up, each padded to a 4-byte boundary."""
    stride = row_stride(width, bpp)
    out = bytearray()
    for vals in reversed(rows):
        line = bytearray()
        if bpp == 1 or bpp == 4:
            per = 8 // bpp
            for i in range(0, width, per):
                byte = 0
                for j in range(per):
                    v = vals[i + j] if i + j < width else 0
                    byte |= v << (8 - bpp * (j + 1))
                line.append(byte)
        elif bpp == 8:
            line.extend(vals)
        line.extend(b"\0" * (stride - len(line)))
        out += line
    return bytes(out)


def encode_dib(pixels, bpp):
    size = len(pixels)
    mask_rows = [[0 if is_opaque(rgba) else 1 for rgba, _ in row] for row in pixels]
    pal = []
    if bpp == 32:
        xor = bytearray()
        for row in reversed(pixels):
            for (r, g, b, a), _ in row:
                # Pre-zeroing colour under full transparency keeps mask blits clean.
                xor += bytes((b, g, r, a)) if a else b"\0\0\0\0"
        xor = bytes(xor)
    elif bpp == 8:
        pal = palette256(pixels)
        cache = {}
        rows = []
        for row in pixels:
            vals = []
            for rgba, _ in row:
                if not is_opaque(rgba):
                    vals.append(0)
                    continue
                c = rgba[:3]
                if c not in cache:
                    cache[c] = nearest(pal, c)
                vals.append(cache[c])
            rows.append(vals)
        xor = pack_rows(rows, 8, size)
    else:
        pal = list(VGA16)
        rows = [[idx if is_opaque(rgba) else 0 for rgba, idx in row] for row in pixels]
        xor = pack_rows(rows, 4, size)
    andmask = pack_rows(mask_rows, 1, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(andmask), 0, 0, len(pal), 0)
    palbytes = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
    return header + palbytes + xor + andmask


def build_ico():
    images = []
    for bpp in DEPTHS:
        for size in SIZES:
            images.append((size, bpp))
    rendered = {size: render(size) for size in SIZES}
    blobs = [encode_dib(rendered[size], bpp) for size, bpp in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (size, bpp), blob in zip(images, blobs):
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                           1, bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def decode_entries(data):
    """Read the DIB images back to RGBA so previews show exactly what is stored."""
    _, _, count = struct.unpack_from("<HHH", data, 0)
    result = []
    for i in range(count):
        w, h, _, _, _, bpp, length, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w = w or 256
        h = h or 256
        hdr = struct.unpack_from("<IiiHHIIiiII", data, off)
        bpp = hdr[4]
        ncol = hdr[9] or (1 << bpp if bpp <= 8 else 0)
        pos = off + hdr[0]
        pal = []
        for j in range(ncol):
            b, g, r, _ = data[pos + 4 * j:pos + 4 * j + 4]
            pal.append((r, g, b))
        pos += 4 * ncol
        xs = row_stride(w, bpp)
        ms = row_stride(w, 1)
        xor = data[pos:pos + xs * h]
        msk = data[pos + xs * h:pos + xs * h + ms * h]
        img = []
        for y in range(h):
            src = h - 1 - y
            line = []
            for x in range(w):
                masked = (msk[src * ms + x // 8] >> (7 - x % 8)) & 1
                if bpp == 32:
                    b, g, r, a = xor[src * xs + 4 * x:src * xs + 4 * x + 4]
                    line.append((r, g, b, a))
                    continue
                if bpp == 8:
                    idx = xor[src * xs + x]
                else:
                    byte = xor[src * xs + x // 2]
                    idx = (byte >> 4) if x % 2 == 0 else (byte & 15)
                line.append((0, 0, 0, 0) if masked else pal[idx] + (255,))
            img.append(line)
        result.append((w, bpp, img))
    return result


def write_png(path, img):
    h = len(img)
    w = len(img[0])
    raw = bytearray()
    for line in img:
        raw.append(0)
        for px in line:
            raw += bytes(px)

    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def contact_sheet(entries, zoom=8, pad=8):
    """All images enlarged on a light and a dark backdrop, one depth per row."""
    cell = 48 * zoom + 2 * pad
    cols = len(SIZES)
    rows = len(DEPTHS)
    backs = ((0xF0, 0xF0, 0xF0), (0x30, 0x30, 0x30))
    width = cell * cols * len(backs)
    height = cell * rows
    sheet = [[(0, 0, 0, 255)] * width for _ in range(height)]
    for bi, back in enumerate(backs):
        for y in range(height):
            for x in range(bi * cell * cols, (bi + 1) * cell * cols):
                sheet[y][x] = back + (255,)
        for n, (w, bpp, img) in enumerate(entries):
            r = DEPTHS.index(bpp)
            c = SIZES.index(w)
            ox = bi * cell * cols + c * cell + pad
            oy = r * cell + pad
            for y in range(w * zoom):
                for x in range(w * zoom):
                    pr, pg, pb, pa = img[y // zoom][x // zoom]
                    blend = tuple((pc * pa + bc * (255 - pa) + 127) // 255
                                  for pc, bc in zip((pr, pg, pb), back))
                    sheet[oy + y][ox + x] = blend + (255,)
    return sheet


def main(argv):
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(repo, "res", "traymark.ico")
    png_dir = None
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == "--png":
            if not args:
                sys.exit("--png needs a directory")
            png_dir = args.pop(0)
        elif a in ("-h", "--help"):
            print(__doc__.strip())
            return 0
        else:
            out = a
    data = build_ico()
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (out, len(data)))
    if png_dir:
        os.makedirs(png_dir, exist_ok=True)
        entries = decode_entries(data)
        for w, bpp, img in entries:
            write_png(os.path.join(png_dir, "traymark_%dx%d_%dbpp.png" % (w, w, bpp)), img)
        write_png(os.path.join(png_dir, "traymark_sheet.png"), contact_sheet(entries))
        print("wrote %d previews to %s" % (len(entries) + 1, png_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
