#!/usr/bin/env python3
"""Draws the installer's progress animation and icon and writes them in the formats the
resource compiler embeds:

- progress.avi: RIFF AVI, one video stream, 26 frames of 272 x 60 pixels at 10 frames per
  second, 8 bits per pixel with a 16-colour palette, every frame a BI_RLE8 key frame. The
  picture: documents leave an open wooden crate and fly in an arc into the gate of a
  castle, the game's home, whose flag waves; the loop is seamless.
- installer.ico: icon group of a 32 x 32 and a 16 x 16 image, 16 colours each.

The outputs are committed, so the build never runs this; run it after changing a drawing:
    python3 src/ui/assets/generate_assets.py
Deterministic: the same bytes come out on every run. Every frame is decoded again after
encoding and compared, so a fault of the encoder cannot slip into the clip.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

WIDTH, HEIGHT = 272, 60
FRAMES = 26
FRAMES_PER_SECOND = 10

# The 16 colours (R, G, B) shared by the clip and the icon. Index 0 is the background: the
# animation control makes it transparent (it takes the colour of the first pixel).
PALETTE = [
    (192, 192, 192),  # 0 background (dialog grey)
    (0, 0, 0),        # 1 outline
    (255, 255, 255),  # 2 white
    (101, 67, 33),    # 3 dark wood
    (166, 114, 60),   # 4 light wood
    (88, 88, 96),     # 5 dark stone
    (136, 136, 144),  # 6 stone
    (176, 176, 184),  # 7 light stone
    (208, 32, 32),    # 8 red (roof, flag)
    (120, 0, 0),      # 9 dark red
    (40, 64, 176),    # 10 blue (writing)
    (240, 200, 64),   # 11 gold
    (40, 40, 48),     # 12 gate shadow
    (56, 144, 48),    # 13 grass
    (24, 96, 24),     # 14 dark grass
    (255, 252, 232),  # 15 paper
]
BG, OUTLINE, WHITE, DARK_WOOD, WOOD, DARK_STONE, STONE, LIGHT_STONE, RED, DARK_RED, BLUE, \
    GOLD, SHADOW, GRASS, DARK_GRASS, PAPER = range(16)


class Canvas:
    """A top-down 8-bit picture; drawing outside it is clipped."""

    def __init__(self, width, height, colour=BG):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)

    def line(self, x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            self.put(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps), colour)


def draw_document(c, cx, cy, tilt):
    """A sheet of paper, 11 x 14, with lines of writing and a folded corner; tilt shears
    it by up to two pixels so that it seems to tumble."""
    left, top = cx - 5, cy - 7
    for row in range(14):
        shift = round(tilt * (row - 7) / 7)
        for col in range(11):
            x, y = left + col + shift, top + row
            edge = row in (0, 13) or col in (0, 10)
            corner = col >= 8 and row <= 10 - col + 8 - 8 + 2 and col + row >= 8
            if col >= 8 and row <= 2 and (col - 8) + (2 - row) >= 2:
                continue  # cut-off corner
            colour = OUTLINE if edge else PAPER
            if not edge and row in (3, 5, 7, 9, 11) and 2 <= col <= 8 - (row == 11) * 3:
                colour = BLUE
            c.put(x, y, colour)
        if row <= 2:
            c.put(left + 8 + shift + row, top + row, OUTLINE)


def draw_crate(c, open_lid_angle):
    """The open crate the files come from, on the left."""
    x0, y0, x1, y1 = 10, 30, 58, 55
    c.rect(x0, y0, x1, y1, WOOD)
    for y in range(y0 + 6, y1, 7):
        c.rect(x0, y, x1, y, DARK_WOOD)
    c.line(x0, y0, x1, y1, DARK_WOOD)
    c.line(x0, y1, x1, y0, DARK_WOOD)
    c.frame(x0, y0, x1, y1, OUTLINE)
    # Lid, hinged at the back edge and standing open.
    hinge_x, hinge_y = x0, y0
    length = 30
    tip_x = hinge_x - round(length * math.cos(open_lid_angle))
    tip_y = hinge_y - round(length * math.sin(open_lid_angle))
    for w in range(4):
        c.line(hinge_x + w, hinge_y, tip_x + w, tip_y, WOOD if 0 < w < 3 else OUTLINE)


def draw_castle(c, frame_index):
    """The castle the files go into, on the right: walls, battlements, a gate, a tower
    with a red roof and a waving flag."""
    wall_x0, wall_y0, wall_x1, wall_y1 = 196, 26, 262, 55
    c.rect(wall_x0, wall_y0, wall_x1, wall_y1, STONE)
    for y in range(wall_y0 + 4, wall_y1, 5):  # courses of stone
        c.rect(wall_x0, y, wall_x1, y, LIGHT_STONE)
        offset = 0 if (y // 5) % 2 else 5
        for x in range(wall_x0 + offset, wall_x1, 10):
            c.rect(x, y - 4, x, y - 1, DARK_STONE)
    for x in range(wall_x0, wall_x1 + 1, 8):  # battlements
        c.rect(x, wall_y0 - 5, min(x + 4, wall_x1), wall_y0 - 1, STONE)
        c.frame(x, wall_y0 - 5, min(x + 4, wall_x1), wall_y0, OUTLINE)
    c.frame(wall_x0, wall_y0, wall_x1, wall_y1, OUTLINE)
    # The gate: a dark arch the documents disappear into.
    gate_x0, gate_x1, gate_top = 214, 236, 34
    for x in range(gate_x0, gate_x1 + 1):
        half = (gate_x1 - gate_x0) / 2
        dx = (x - gate_x0 - half) / half
        arch_top = gate_top + round(5 * (1 - math.sqrt(max(0.0, 1 - dx * dx))))
        c.rect(x, arch_top, x, wall_y1 - 1, SHADOW)
        c.put(x, arch_top - 1, OUTLINE)
    for x in range(gate_x0 + 2, gate_x1, 4):  # raised portcullis teeth
        c.rect(x, 36, x, 38, DARK_STONE)
    # Tower with a pointed roof.
    tx0, tx1, ty0 = 244, 258, 12
    c.rect(tx0, ty0, tx1, wall_y0, LIGHT_STONE)
    c.frame(tx0, ty0, tx1, wall_y0, OUTLINE)
    c.rect(250, 17, 252, 21, SHADOW)  # window
    for row in range(9):
        c.rect(tx0 - 1 + row, ty0 - 1 - row, tx1 + 1 - row, ty0 - 1 - row, RED if row else DARK_RED)
    c.put(251, ty0 - 10, OUTLINE)
    # Flag on a pole above the roof, waving with the frame.
    pole_x, pole_top = 251, 0
    c.rect(pole_x, pole_top, pole_x, ty0 - 10, OUTLINE)
    phase = 2 * math.pi * frame_index / FRAMES
    for col in range(1, 12):
        wave = round(1.5 * math.sin(phase + col * 0.6))
        for row in range(5):
            c.put(pole_x + col, pole_top + 1 + row + wave, GOLD if row in (0, 4) else RED)
    # Grass at the foot of the walls and the crate.
    for x in range(0, WIDTH):
        c.put(x, 56, GRASS)
        c.put(x, 57, DARK_GRASS if x % 3 == 0 else GRASS)


def draw_frame(frame_index):
    c = Canvas(WIDTH, HEIGHT)
    draw_crate(c, math.radians(62 + 4 * math.sin(2 * math.pi * frame_index / FRAMES)))
    draw_castle(c, frame_index)
    # Three documents in flight, a third of the loop apart. Each rises out of the crate at
    # (34, 34) and flies along a parabola that tops out near the top of the picture into
    # the castle gate at (225, 46), where it vanishes. Drawn after the castle, which the
    # viewer sees from the front; the crate is drawn again over a rising document.
    rising = []
    for k in range(3):
        t = ((frame_index + k * FRAMES / 3) % FRAMES) / FRAMES
        if t > 0.93:
            continue
        x = 34 + (225 - 34) * t
        y = 34 + (46 - 34) * t - 120 * t * (1 - t)
        tilt = 2 * math.sin(2 * math.pi * t * 2)
        draw_document(c, round(x), round(y), tilt)
        rising.append(t < 0.08)
    if any(rising):
        front = Canvas(WIDTH, HEIGHT)
        draw_crate(front, math.radians(62 + 4 * math.sin(2 * math.pi * frame_index / FRAMES)))
        for y in range(30, 56):
            for x in range(10, 59):
                c.pixels[y][x] = front.pixels[y][x]
    # Documents still inside the crate poke out of its top; drawn over the crate's back.
    for cx in (24, 38):
        c.rect(cx, 26, cx + 8, 29, PAPER)
        c.frame(cx, 26, cx + 8, 30, OUTLINE)
    # The crate's front edge hides a document while it rises.
    c.rect(10, 30, 58, 30, OUTLINE)
    return c


# ---------------------------------------------------------------------------------------
# BI_RLE8. Rows are stored bottom-up. A row is a sequence of
#   count (1..255), colour          count pixels of one colour ("encoded mode")
#   0, n (3..255), n colours, pad   n literal pixels ("absolute mode"), padded to 2 bytes
# and ends with 0, 0 (end of line); the last row ends with 0, 1 (end of bitmap).

def rle8_row(row):
    out = bytearray()
    i, n = 0, len(row)

    def run_at(j):
        r = 1
        while j + r < n and row[j + r] == row[j] and r < 255:
            r += 1
        return r

    while i < n:
        run = run_at(i)
        if run >= 3:
            out += bytes([run, row[i]])
            i += run
            continue
        # Gather pixels up to the next run of three or more.
        j = i
        while j < n and j - i < 255 and run_at(j) < 3:
            j += run_at(j) if j - i + run_at(j) <= 255 else 1
        literal = row[i:j]
        if len(literal) < 3:
            for colour in literal:
                out += bytes([1, colour])
        else:
            out += bytes([0, len(literal)]) + bytes(literal)
            if len(literal) % 2:
                out.append(0)
        i = j
    return out


def rle8_encode(canvas):
    out = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        out += rle8_row(canvas.pixels[y])
        out += b"\x00\x01" if y == 0 else b"\x00\x00"
    return bytes(out)


def rle8_decode(data, width, height):
    """Independent check of the encoder: decodes into top-down rows."""
    rows = [[None] * width for _ in range(height)]
    x, y, i = 0, 0, 0  # y counts from the bottom
    while True:
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            for _ in range(count):
                rows[height - 1 - y][x] = value
                x += 1
        elif value == 0:
            assert x == width, f"row {y} has {x} pixels"
            x, y = 0, y + 1
        elif value == 1:
            assert x == width and y == height - 1, "end of bitmap too early"
            assert i == len(data), "bytes after end of bitmap"
            return rows
        elif value == 2:
            raise AssertionError("delta is not used")
        else:
            for k in range(value):
                rows[height - 1 - y][x] = data[i + k]
                x += 1
            i += value + (value & 1)


# ---------------------------------------------------------------------------------------
# RIFF AVI

def chunk(fourcc, payload):
    data = fourcc + struct.pack("<I", len(payload)) + payload
    return data + (b"\x00" if len(payload) % 2 else b"")


def riff_list(kind, fourcc, payload):
    return kind + struct.pack("<I", len(payload) + 4) + fourcc + payload


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def bitmap_info(width, height, bits, compression, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, image_bytes,
                       0, 0, colours, 0)


def build_avi(frames):
    BI_RLE8 = 1
    AVIF_HASINDEX = 0x10
    AVIIF_KEYFRAME = 0x10
    largest = max(len(f) for f in frames)
    avih = struct.pack("<IIIIIIIIII4I",
                       1000000 // FRAMES_PER_SECOND,   # microseconds per frame
                       largest * FRAMES_PER_SECOND,    # max bytes per second
                       0,                              # padding granularity
                       AVIF_HASINDEX,
                       len(frames), 0, 1,              # frames, initial frames, streams
                       largest,                        # suggested buffer size
                       WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh",
                       b"vids", b"mrle", 0, 0, 0, 0,
                       1, FRAMES_PER_SECOND,           # scale, rate: 10 frames per second
                       0, len(frames), largest,        # start, length, buffer size
                       0xFFFFFFFF, 0,                  # quality (default), sample size
                       0, 0, WIDTH, HEIGHT)
    strf = bitmap_info(WIDTH, HEIGHT, 8, BI_RLE8, WIDTH * HEIGHT, len(PALETTE)) + palette_bytes()
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)

    movi_payload = b""
    index = b""
    for data in frames:
        # Index offsets count from the "movi" list type, as players expect.
        index += struct.pack("<4sIII", b"00dc", AVIIF_KEYFRAME, 4 + len(movi_payload), len(data))
        movi_payload += chunk(b"00dc", data)
    movi = riff_list(b"LIST", b"movi", movi_payload)
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", index))


# ---------------------------------------------------------------------------------------
# Icon: ICONDIR, one entry per image, then per image a BITMAPINFOHEADER of double height,
# the palette, the colour bits (4 per pixel, bottom-up, rows padded to 4 bytes) and the
# transparency mask (1 per pixel, 1 = transparent, rows padded to 4 bytes).

def draw_icon(size):
    """A document dropping into an open crate, with a green arrow: "files go in". Each size
    has its own drawing, so the small one stays crisp."""
    c = Canvas(size, size, BG)
    if size == 32:
        crate, doc, arrow_x, arrow_y, arrow_half, stem, lines = (2, 18, 29, 30), (7, 1, 19, 17), 25, 5, 5, 6, (4, 7, 10, 13)
    else:
        crate, doc, arrow_x, arrow_y, arrow_half, stem, lines = (1, 9, 14, 15), (3, 0, 9, 9), 12, 1, 3, 3, (2, 4, 6)
    x0, y0, x1, y1 = crate
    c.rect(x0, y0, x1, y1, WOOD)
    for y in range(y0 + 3, y1, 4 if size == 32 else 3):
        c.rect(x0, y, x1, y, DARK_WOOD)
    c.frame(x0, y0, x1, y1, OUTLINE)
    # The document, half sunk into the crate: drawn before the crate's front edge.
    dx0, dy0, dx1, dy1 = doc
    c.rect(dx0, dy0, dx1, min(dy1, y0), PAPER)
    c.frame(dx0, dy0, dx1, min(dy1, y0), OUTLINE)
    for y in lines:
        c.rect(dx0 + 2, dy0 + y, dx1 - 2, dy0 + y, BLUE)
    c.rect(x0, y0, x1, y0, OUTLINE)
    # Arrow pointing down into the crate: a stem, then a head narrowing to one pixel.
    c.rect(arrow_x - 1, arrow_y, arrow_x + 1 - (size < 32), arrow_y + stem - 1, GRASS)
    for row in range(arrow_half + 1):
        half = arrow_half - row
        c.rect(arrow_x - half, arrow_y + stem + row, arrow_x + half - (size < 32) * (half > 0), arrow_y + stem + row, GRASS)
    return c


def icon_image(canvas):
    size = canvas.width
    colour_row = ((size * 4 + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    colours = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = canvas.pixels[y]
        packed = bytearray()
        for x in range(0, size, 2):
            a = 0 if row[x] == BG else row[x]
            b = 0 if row[x + 1] == BG else row[x + 1]
            packed.append((a << 4) | b)
        colours += packed + b"\x00" * (colour_row - len(packed))
        bits = bytearray(mask_row)
        for x in range(size):
            if row[x] == BG:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    # In the icon, palette entry 0 is black (transparent pixels are black under the mask).
    palette = struct.pack("<BBBB", 0, 0, 0, 0) + palette_bytes()[4:]
    header = bitmap_info(size, size * 2, 4, 0, len(colours) + len(mask), 16)
    return header + palette + bytes(colours) + bytes(mask)


def build_icon(sizes):
    images = [icon_image(draw_icon(size)) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    frames = []
    for f in range(FRAMES):
        canvas = draw_frame(f)
        data = rle8_encode(canvas)
        assert rle8_decode(data, WIDTH, HEIGHT) == canvas.pixels, f"frame {f} does not round-trip"
        frames.append(data)
    with open(os.path.join(HERE, "progress.avi"), "wb") as f:
        f.write(build_avi(frames))
    with open(os.path.join(HERE, "installer.ico"), "wb") as f:
        f.write(build_icon([32, 16]))
    # Preview pictures for people (not used by the build): every frame, as PPM.
    if os.environ.get("ASSET_PREVIEW"):
        out = os.environ["ASSET_PREVIEW"]
        os.makedirs(out, exist_ok=True)
        for n in range(FRAMES):
            c = draw_frame(n)
            with open(os.path.join(out, f"frame{n:02d}.ppm"), "wb") as f:
                f.write(b"P6 %d %d 255\n" % (WIDTH, HEIGHT))
                f.write(bytes(v for row in c.pixels for i in row for v in PALETTE[i]))
        for size in (32, 16):
            c = draw_icon(size)
            with open(os.path.join(out, f"icon{size}.ppm"), "wb") as f:
                f.write(b"P6 %d %d 255\n" % (size, size))
                f.write(bytes(v for row in c.pixels for i in row for v in PALETTE[i]))


if __name__ == "__main__":
    main()
