#!/usr/bin/env python3
"""Writes the generated part of the Brennholt 1.04 demo payload into payload/.

The outputs are committed; run this again only to change them. Deterministic: the same
files come out on every run.

- payload/common/data/maps/*.map: terrain height maps of the new and fixed maps, as text
  (a header, then one row of heights per line).
- payload/<code>/sound/speech.bnk: the edition's spoken lines for the new map: a small
  bank ("BHSB", line count, offsets) of 8-bit 11025 Hz mono sound, synthesized here as
  vowel-like tones so that each edition's bank differs and compresses like real speech.
"""
import math
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CODES = ["BRZ", "CHI", "DEU", "ENG", "ESP", "FRA", "ITA", "JPN", "KOR"]


def write(path, data):
    full = os.path.join(HERE, "payload", path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


def height_map(name, title, seed, size):
    rng = random.Random(seed)
    hills = [(rng.uniform(0, size), rng.uniform(0, size), rng.uniform(8, 30), rng.uniform(20, 90))
             for _ in range(14)]
    lines = [f"# Brennholt map: {title}", f"size {size} {size}", "scale 0.25", "heights"]
    for y in range(size):
        row = []
        for x in range(size):
            h = 40.0
            for hx, hy, radius, peak in hills:
                d2 = ((x - hx) ** 2 + (y - hy) ** 2) / (radius * radius)
                h += peak * math.exp(-d2)
            # The valley's brook runs diagonally through every map.
            h -= 25.0 * math.exp(-((x - y) ** 2) / 18.0)
            row.append(max(0, min(255, int(h))))
        lines.append(" ".join(str(v) for v in row))
    write(f"common/data/maps/{name}.map", ("\r\n".join(lines) + "\r\n").encode("ascii"))


def speech_bank(code, seed):
    rng = random.Random(seed)
    rate = 11025
    clips = []
    for line in range(12):
        samples = bytearray()
        syllables = rng.randint(5, 11)
        for _ in range(syllables):
            pitch = rng.uniform(95, 210)
            formant1 = rng.choice([300, 400, 530, 660, 730])
            formant2 = rng.choice([870, 1090, 1840, 2290])
            length = int(rate * rng.uniform(0.09, 0.18))
            for i in range(length):
                t = i / rate
                envelope = math.sin(math.pi * i / length)
                value = (0.55 * math.sin(2 * math.pi * formant1 * t) +
                         0.3 * math.sin(2 * math.pi * formant2 * t)) * \
                        (0.5 + 0.5 * math.sin(2 * math.pi * pitch * t))
                value = value * envelope * 90 + rng.uniform(-3, 3)
                samples.append(max(0, min(255, int(128 + value))))
            samples.extend([128] * int(rate * rng.uniform(0.03, 0.08)))
        clips.append(bytes(samples))
    header = b"BHSB" + struct.pack("<HH", 1, len(clips))
    offset = len(header) + 8 * len(clips)
    table = b""
    for clip in clips:
        table += struct.pack("<II", offset, len(clip))
        offset += len(clip)
    write(f"{code.lower()}/sound/speech.bnk", header + table + b"".join(clips))


def main():
    height_map("moorbach", "Moorbach Valley (2-4 players)", 104, 128)
    height_map("winter4", "Winter campaign, mission 4", 4, 112)
    for n, code in enumerate(CODES):
        speech_bank(code, 1000 + n)


if __name__ == "__main__":
    main()
