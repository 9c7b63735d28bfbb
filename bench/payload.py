#!/usr/bin/env python3
"""Writes the benchmark payload: a launcher payload tree of realistic shape and size.

One folder per archive (archive/SetupLayout.h names them). The six folders
the launcher unpacks hold 75 files, about 21 MB, the largest about 8.5 MB, in a data
folder, four language folders below a documentation folder and the top level; their
contents mix text-like and incompressible bytes so that zlib's default level packs
them to roughly 60 %. The same seed always gives the same bytes, names and file times,
so archives packed from two runs are identical.

The setup program and the waiting program are not generated: pass the folder that
holds the project's stand-ins with --programs and they are copied in, so that every
contestant unpacks exactly the same files.
"""

import argparse
import itertools
import os
import random
import shutil
import sys

import benchlib

SEED = 20040615
# File times: a fixed moment, a few minutes apart per file.
BASE_TIME = 1087300800
SETUP_PROGRAM = benchlib.SETUP_LAYOUT["setup_program"]
WAITING_PROGRAM = benchlib.SETUP_LAYOUT["waiting_program"]
PROGRAM_ARCHIVE = benchlib.SETUP_LAYOUT["program_archive"]

UNPACKED = benchlib.UNPACKED
KEPT = benchlib.KEPT
LANGUAGES = ["Eng", "Ger", "Fra", "Ita"]

KB = 1000
MB = 1000 * KB

# Kinds of content: the share of incompressible bytes in a file. Text packs to about a
# third with zlib's default level, random bytes not at all.
TEXT = 0.0
PROGRAM = 0.25
MEDIA = 0.45
PACKED = 1.0


def in_folder(folder, files):
    return [("%s\\%s" % (folder, name), size, kind) for name, size, kind in files]


def docs(names_sizes):
    """Documents, one set per language folder."""
    files = []
    for language in LANGUAGES:
        files += in_folder("Docs\\" + language, [(name, size, TEXT) for name, size in names_sizes])
    return files


# [(name, size, kind)] per unpacked archive, in the launcher's order; names use
# backslashes like archive entry names. The second, the setup program's archive, lists 6
# of its 8 top-level files: the two programs come from --programs.
UNPACKED_FILES = [
    in_folder("Data", [
        ("Pictures.pak", 8500 * KB, MEDIA),
        ("Frames.pak", 880 * KB, MEDIA),
        ("Effects.dat", 610 * KB, PROGRAM),
        ("Fonts.dat", 480 * KB, PROGRAM),
        ("Clipart.idx", 146 * KB, TEXT),
    ]),
    [
        ("KMSetupUI.dll", 880 * KB, PROGRAM),
        ("KMSetupCore.dll", 690 * KB, PROGRAM),
        ("KMSetupRes.dll", 430 * KB, MEDIA),
        ("KMCtl3d.dll", 128 * KB, PROGRAM),
        ("kmzlib.dll", 72 * KB, PROGRAM),
        ("Setup.ini", 3 * KB, TEXT),
    ] + in_folder("Data", [
        ("Setup.lst", 18 * KB, TEXT), ("Setup.bmp", 301 * KB, MEDIA),
        ("Welcome.bmp", 154 * KB, MEDIA), ("Finish.bmp", 154 * KB, MEDIA),
        ("Lang1031.dat", 46 * KB, TEXT), ("Lang1033.dat", 44 * KB, TEXT),
        ("Lang1036.dat", 47 * KB, TEXT), ("Lang1040.dat", 46 * KB, TEXT),
        ("Components.xml", 62 * KB, TEXT), ("Registry.dat", 35 * KB, TEXT),
        ("Shortcuts.dat", 9 * KB, TEXT), ("Fonts.lst", 5 * KB, TEXT),
        ("Codecs.cab", 310 * KB, PACKED), ("Runtime.cab", 420 * KB, PACKED),
        ("Prereq.dat", 96 * KB, PROGRAM),
    ]) + docs([
        ("License.txt", 22 * KB), ("Readme.txt", 14 * KB), ("Setup.htm", 31 * KB),
        ("Release Notes.txt", 9 * KB), ("Quickstart.pdf", 120 * KB),
    ]),
    [
        ("Photo.inf", 7 * KB, TEXT),
    ] + in_folder("Data", [
        ("PhotoSetup.dat", 73 * KB, TEXT), ("Samples.lst", 12 * KB, TEXT),
        ("Sample1.jpg", 296 * KB, PACKED), ("Sample2.jpg", 251 * KB, PACKED),
        ("Sample3.jpg", 218 * KB, PACKED), ("Profiles.icc", 188 * KB, PROGRAM),
    ]) + [
        ("Docs\\Eng\\Photo Tutorial.htm", 48 * KB, TEXT),
    ] + docs([
        ("Photo.txt", 12 * KB),
    ]),
    [
        ("KMPhoto.exe", 1620 * KB, PROGRAM),
        ("Photo.inf", 8 * KB, TEXT),
        ("Data\\Edition.dat", 240 * KB, PROGRAM),
    ] + docs([
        ("Edition.htm", 36 * KB), ("Shortcuts.txt", 6 * KB),
    ]) + [
        ("Docs\\Eng\\Edition Manual.pdf", 305 * KB, MEDIA),
        ("Docs\\Ger\\Edition Manual.pdf", 312 * KB, MEDIA),
    ],
    [
        ("KMImage.dll", 880 * KB, PROGRAM),
    ],
    [
        ("KMVersion.dll", 152 * KB, PROGRAM),
    ],
]
LAYOUT = list(zip(UNPACKED, UNPACKED_FILES))

APPBASE_FILES = 236


def kept_archives():
    """The two kept archives: the application, 236 files at the top level and in five
    folders, and the uninstaller's, 2."""
    files = [("KMPhotoApp.exe", 1640 * KB, PROGRAM), ("KMPhotoApp.ini", 4 * KB, TEXT)]
    files += [("KMApp%02d.dll" % i, (15 + 5 * i) * KB, PROGRAM) for i in range(26)]
    folders = [("Filters", ".flt", PROGRAM), ("Plugins", ".kpi", PROGRAM),
               ("Templates", ".tpl", MEDIA), ("Frames", ".frm", MEDIA), ("Help", ".htm", TEXT)]
    left = APPBASE_FILES - len(files)
    for index, (folder, extension, kind) in enumerate(folders):
        count = left // len(folders) + (1 if index < left % len(folders) else 0)
        files += in_folder(folder, [("%s%03d%s" % (folder[:4], i, extension), (1 + (i * 5) % 17) * KB, kind)
                                    for i in range(count)])
    return list(zip(KEPT, [files, [("KMUninst.exe", 310 * KB, PROGRAM), ("Data\\Uninst.dat", 21 * KB, TEXT)]]))


def make_vocabulary(rng, count=3000):
    """Made-up words; text draws them with falling frequency, as in natural language."""
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    weights = [12, 9, 8, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1]
    words = set()
    while len(words) < count:
        length = rng.choice([2, 3, 3, 4, 4, 5, 5, 6, 7, 8, 9, 11])
        words.add("".join(rng.choices(letters, weights, k=length)))
    vocabulary = sorted(words)
    rng.shuffle(vocabulary)
    return vocabulary, list(itertools.accumulate(1.0 / rank for rank in range(1, count + 1)))


def text_bytes(rng, vocabulary, size):
    """Lines of words, CRLF-ended, like the documents and settings of a real payload."""
    out = []
    produced = 0
    while produced < size:
        words = rng.choices(vocabulary[0], cum_weights=vocabulary[1], k=rng.randint(6, 14))
        line = (" ".join(words)).capitalize() + ".\r\n"
        out.append(line)
        produced += len(line)
    return "".join(out).encode("ascii")[:size]


def mixed_bytes(rng, vocabulary, size, incompressible):
    """Blocks of random bytes and of text, in the proportion asked for."""
    block = 16 * 1024
    out = bytearray()
    while len(out) < size:
        n = min(block, size - len(out))
        if rng.random() < incompressible:
            out += rng.randbytes(n)
        else:
            out += text_bytes(rng, vocabulary, n)
    return bytes(out)


def contents(rng, vocabulary, size, kind):
    if kind == TEXT:
        return text_bytes(rng, vocabulary, size)
    if kind == PACKED:
        return rng.randbytes(size)
    return mixed_bytes(rng, vocabulary, size, kind)


def full_layout():
    return LAYOUT + kept_archives()


def write_payload(out_dir, programs_dir=None):
    """Writes the tree below out_dir (which must not hold an older payload) and returns
    the list of (archive, name, size) written, in layout order."""
    rng = random.Random(SEED)
    vocabulary = make_vocabulary(rng)
    written = []
    stamp = BASE_TIME
    for archive, files in full_layout():
        for name, size, kind in files:
            data = contents(rng, vocabulary, size, kind)
            path = os.path.join(out_dir, archive, *name.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            stamp += 300
            os.utime(path, (stamp, stamp))
            written.append((archive, name, len(data)))
    if programs_dir:
        for program in (SETUP_PROGRAM, WAITING_PROGRAM):
            target = os.path.join(out_dir, PROGRAM_ARCHIVE, program)
            shutil.copyfile(os.path.join(programs_dir, program), target)
            stamp += 300
            os.utime(target, (stamp, stamp))
            written.append((PROGRAM_ARCHIVE, program, os.path.getsize(target)))
    return written


# The scale payloads of BENCH_SCALE=1, each in the first archive alone: many small files
# in many folders, and one large file.
SCALE_FOLDERS = 200
SCALE_FILES_PER_FOLDER = 50
SCALE_SMALL_SIZES = (100, 3000)
SCALE_LARGE_SIZE = 300 * MB
SCALE_BLOCK = 16 * 1024


def write_many_files(out_dir):
    """10,000 small text-like files, 50 in each of 200 folders. Returns (count, bytes)."""
    rng = random.Random(SEED + 1)
    vocabulary = make_vocabulary(rng)
    total = 0
    for folder in range(SCALE_FOLDERS):
        path = os.path.join(out_dir, UNPACKED[0], "Part%03d" % folder)
        os.makedirs(path)
        for index in range(SCALE_FILES_PER_FOLDER):
            data = text_bytes(rng, vocabulary, rng.randint(*SCALE_SMALL_SIZES))
            with open(os.path.join(path, "Item%02d.txt" % index), "wb") as f:
                f.write(data)
            total += len(data)
    return SCALE_FOLDERS * SCALE_FILES_PER_FOLDER, total


def write_large_file(out_dir):
    """One file of 300 MB, text-like and incompressible blocks mixed as in MEDIA files,
    drawn from a pool of blocks so that writing it takes seconds. Returns (1, bytes)."""
    rng = random.Random(SEED + 2)
    vocabulary = make_vocabulary(rng)
    pool = [text_bytes(rng, vocabulary, SCALE_BLOCK) for _ in range(48)]
    os.makedirs(os.path.join(out_dir, UNPACKED[0]))
    written = 0
    with open(os.path.join(out_dir, UNPACKED[0], "Large.pak"), "wb") as f:
        while written < SCALE_LARGE_SIZE:
            n = min(SCALE_BLOCK, SCALE_LARGE_SIZE - written)
            block = rng.randbytes(n) if rng.random() < MEDIA else rng.choice(pool)[:n]
            f.write(block)
            written += n
    return 1, written


SCALE_PAYLOADS = {"files": write_many_files, "large": write_large_file}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir", help="folder to create; an existing one is replaced")
    parser.add_argument("--programs", help="folder holding %s and %s to add to %s"
                        % (SETUP_PROGRAM, WAITING_PROGRAM, PROGRAM_ARCHIVE))
    parser.add_argument("--scale", choices=sorted(SCALE_PAYLOADS),
                        help="write a scale payload instead: many small files, or one large file")
    args = parser.parse_args(argv)
    if os.path.exists(args.out_dir):
        shutil.rmtree(args.out_dir)
    if args.scale:
        count, size = SCALE_PAYLOADS[args.scale](args.out_dir)
        print("payload: %d files, %.1f MB in %s" % (count, size / MB, UNPACKED[0]))
        return 0
    written = write_payload(args.out_dir, args.programs)
    unpacked = [w for w in written if w[0] in UNPACKED]
    print("payload: %d files, %.1f MB in the six unpacked archives; %d files in %s"
          % (len(unpacked), sum(w[2] for w in unpacked) / MB,
             len(written) - len(unpacked), " and ".join(KEPT)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
