#!/usr/bin/env python3
"""Writes a realistic packing payload from files already on this machine.

Real setups carry programs and libraries, documents and pictures rather than generated
bytes, and the encoders differ most on such files. This takes them from the Debian
system the benchmark runs on: Linux shared libraries, Windows DLLs and programs (Wine's
own PE files), documents (/usr/share/doc and C headers) and pictures (icons and pixmaps,
and photos and dialog bitmaps drawn with ImageMagick from fixed seeds), in shares of a
size budget. The choice is deterministic for a given machine: files are taken in the order
of a hash of their path. The largest library below 64 MiB is always included, so that
one file is large enough to be packed in several chunks.

    realistic_payload.py OUT [--megabytes N]

OUT receives four archive folders (see CATEGORIES); file times are
fixed, so two runs give the same archives.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys

import benchlib

MB = 1000 * 1000
BIG_FILE_LIMIT = 64 << 20
FILE_TIME = 1087300800
FILES_PER_FOLDER = 400
NAME_LIMIT = 60

# The archive folders the content goes into (archive/SetupLayout.h names them): the
# first unpacked one, the first kept one, the last two unpacked ones.
FIRST, KEPT, SECOND_LAST, LAST = (benchlib.UNPACKED[0], benchlib.KEPT[0], benchlib.UNPACKED[-2],
                                  benchlib.UNPACKED[-1])
# (archive folder, share of the budget, source folders, name pattern)
CATEGORIES = [
    (FIRST, 0.40, ["/usr/lib/x86_64-linux-gnu"], re.compile(r"\.so(\.[0-9]+)*$")),
    (KEPT, 0.30, ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/i386-linux-gnu/wine/x86_64-windows",
                       "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/x86_64-linux-gnu/wine/i386-windows"],
     re.compile(r"\.(dll|exe|drv|sys|ocx|acm|cpl|tlb|ax|ds)$", re.I)),
    (LAST, 0.18, ["/usr/share/doc", "/usr/include"],
     re.compile(r"(\.(txt|html?|md|rst|h|hpp|css|js|xml|json|pdf)|/(copyright|README|NEWS|changelog))$", re.I)),
    (SECOND_LAST, 0.12, ["/usr/share/icons", "/usr/share/pixmaps", "/usr/share/doc", "/usr/share/wine"],
     re.compile(r"\.(png|jpe?g|gif|bmp|ico|svg|xpm)$", re.I)),
]
# Pictures drawn with ImageMagick from fixed seeds: photos as JPEG (a plasma fractal, as
# noisy as a photograph), and the bitmaps a setup's dialogs show (uncompressed BMP of
# gradients and shapes, in the sizes such dialogs use).
PHOTOS = [("Photo%02d.jpg" % i, i) for i in range(8)]
PHOTO_SIZE = "1024x768"
DIALOG_BITMAPS = [("Wizard%02d.bmp" % i, "164x314", i) for i in range(4)] + \
                 [("Banner%02d.bmp" % i, "497x312", i) for i in range(4)] + \
                 [("Header%02d.bmp" % i, "150x57", i) for i in range(4)]
COLOURS = ["steelblue", "darkorange", "seagreen", "slategray", "firebrick", "goldenrod"]
CONVERT = "convert-im6.q16"


def candidates(roots, pattern):
    seen = set()
    found = []
    for root in roots:
        for folder, _, files in os.walk(root):
            for name in files:
                path = os.path.join(folder, name)
                if os.path.islink(path) or not pattern.search(path):
                    continue
                info = os.stat(path)
                if (info.st_dev, info.st_ino) in seen or info.st_size == 0:
                    continue
                seen.add((info.st_dev, info.st_ino))
                found.append((path, info.st_size))
    return sorted(found, key=lambda item: hashlib.sha1(item[0].encode("utf-8", "surrogateescape")).digest())


def plain_name(path, number):
    name = re.sub(r"[^A-Za-z0-9._+-]", "_", os.path.basename(path))[-NAME_LIMIT:].strip(". ")
    return "%05d_%s" % (number, name or "file")


def place(out, archive, number, name):
    folder = os.path.join(out, archive, "part%02d" % (number // FILES_PER_FOLDER))
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


def drawn_pictures():
    """(name, ImageMagick arguments before the output) of the drawn pictures."""
    pictures = [(name, ["-seed", str(seed + 1), "-size", PHOTO_SIZE, "plasma:fractal", "-blur", "0x1",
                        "-quality", "85"]) for name, seed in PHOTOS]
    for name, size, seed in DIALOG_BITMAPS:
        width, height = map(int, size.split("x"))
        first, second = COLOURS[seed % len(COLOURS)], COLOURS[(seed + 2) % len(COLOURS)]
        shapes = "circle %d,%d %d,%d rectangle %d,%d %d,%d" % (
            width * 2 // 3, height // 3, width * 2 // 3 + width // 5, height // 3,
            width // 10, height * 3 // 4, width * 9 // 10, height * 3 // 4 + height // 12)
        pictures.append((name, ["-size", size, "gradient:%s-white" % first, "-fill", second, "-draw", shapes]))
    return pictures


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--megabytes", type=float, default=160)
    args = parser.parse_args(argv)
    budget = args.megabytes * MB
    if os.path.exists(args.out):
        shutil.rmtree(args.out)

    summary = []
    for archive, share, roots, pattern in CATEGORIES:
        files = candidates(roots, pattern)
        chosen = []
        if archive == FIRST:
            big = [item for item in files if item[1] < BIG_FILE_LIMIT]
            if big:
                chosen.append(max(big, key=lambda item: item[1]))
        total = sum(size for _, size in chosen)
        for item in files:
            if total >= share * budget:
                break
            if item not in chosen:
                chosen.append(item)
                total += item[1]
        for number, (path, _) in enumerate(chosen):
            target = place(args.out, archive, number, plain_name(path, number))
            shutil.copyfile(path, target)
            os.utime(target, (FILE_TIME, FILE_TIME))
        count = len(chosen)
        if archive == SECOND_LAST and shutil.which(CONVERT):
            for name, command in drawn_pictures():
                target = place(args.out, archive, count, "%05d_%s" % (count, name))
                subprocess.run([CONVERT] + command + ["-strip", "-type", "TrueColor", target], check=True)
                os.utime(target, (FILE_TIME, FILE_TIME))
                total += os.path.getsize(target)
                count += 1
        summary.append("%s %d files %.1f MB" % (archive, count, total / MB))
    print("realistic payload: " + "; ".join(summary))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
