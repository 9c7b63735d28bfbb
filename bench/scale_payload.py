#!/usr/bin/env python3
"""Writes the payload of `make scale`: an embed payload of at least 1 GiB, the same bytes
on every run, in the layout kmarc embed takes (one folder per archive).

    scale_payload.py DIR --programs DIR_WITH_STAND_INS [--mib N]

Half of the bytes are text-like (they compress about 3:1), half are noise (they do not),
in one large file of a quarter of the total and about 1,500 files of 64 KiB to 1 MiB in
40 folders, with names that hold accents, '&', ';', '%' and one of 140 bytes.
"""
import argparse
import os
import random
import shutil

import benchlib

BLOCK = 4 << 20
WORDS = ("setup photo kalmora archive launcher folder image colour album print export "
         "gallery layer brush filter preview render library session import").split()


def blocks(seed):
    rng = random.Random(seed)
    noise = rng.randbytes(BLOCK)
    text = bytearray()
    while len(text) < BLOCK:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        text += (line + " %d\r\n" % rng.randint(0, 99999)).encode()
    return noise, bytes(text[:BLOCK])


def write_file(path, size, index, noise, text):
    """Alternating 64 KiB pieces of text and noise, from places that move with index."""
    piece = 65536
    with open(path, "wb") as out:
        left, n = size, 0
        while left > 0:
            count = min(piece, left)
            source = text if (n + index) % 2 == 0 else noise
            start = ((index * 7919 + n * 104729) * 64) % (BLOCK - piece)
            out.write(source[start:start + count])
            left -= count
            n += 1
    # A fixed time, so the archives' time stamps do not follow the day of the run.
    os.utime(path, (1767225600, 1767225600))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--programs", required=True)
    parser.add_argument("--mib", type=int, default=1088)
    args = parser.parse_args()
    total = args.mib << 20
    noise, text = blocks(2026)
    if os.path.exists(args.dir):
        shutil.rmtree(args.dir)

    layout = benchlib.SETUP_LAYOUT
    for name in (layout["setup_program"], layout["waiting_program"]):
        os.makedirs(os.path.join(args.dir, layout["program_archive"]), exist_ok=True)
        shutil.copy2(os.path.join(args.programs, name), os.path.join(args.dir, layout["program_archive"], name))
    base = os.path.join(args.dir, benchlib.UNPACKED[0])
    os.makedirs(base)
    write_file(os.path.join(base, "Lizenz & Hinweise.txt"), 200000, 1, noise, text)
    uninst = os.path.join(args.dir, benchlib.KEPT[1])
    os.makedirs(uninst)
    write_file(os.path.join(uninst, "Deinstallation.dat"), 300000, 2, noise, text)

    app = os.path.join(args.dir, benchlib.KEPT[0])
    big = total // 4
    os.makedirs(os.path.join(app, "Daten"))
    write_file(os.path.join(app, "Daten", "Bibliothek.pak"), big, 3, noise, text)
    left = total - big - 500000
    rng = random.Random(7)
    index = 10
    names = ("Übersicht", "Café & Bar", "Preis; Liste", "100% Farbe", "Résumé", "Größe")
    while left > 0:
        folder = os.path.join(app, "Module %02d %s" % (index % 40, names[index % len(names)]))
        os.makedirs(folder, exist_ok=True)
        size = min(left, rng.randint(64 << 10, 1 << 20))
        name = "%s %05d.bin" % (names[(index // 40) % len(names)], index)
        if index == 11:  # 140 bytes, at the top where the path has room for it
            folder, name = app, ("Langer Name " * 12)[:136] + ".bin"
        write_file(os.path.join(folder, name), size, index, noise, text)
        left -= size
        index += 1
    print("scale payload: %d files, %d MiB in %s" % (index - 10 + 5, total >> 20, args.dir))


if __name__ == "__main__":
    main()
