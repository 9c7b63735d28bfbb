#!/usr/bin/env python3
"""The packing section of the benchmarks: bytes, wall and CPU time and peak memory of
kmarc's encoders beside NSIS's compiler (zlib, and solid LZMA) and xz -9.

    packing.py --kmarc KMARC --work DIR [--results FILE] NAME=PAYLOAD...

Each payload is a folder of archive folders (archive/SetupLayout.h). kmarc packs every
archive folder into an archive of its own, as the build and `kmarc embed` do; its bytes
are the sum of the archives. makensis builds one installer of all the files (the
installer's stub included in its bytes); xz -9 compresses a tar of the payload made
beforehand (not timed). Each archive kmarc wrote at its default level is checked with
`kmarc verify`, which inflates every entry with zlib and compares sizes; a failure
stops the benchmark.

kmarc compresses identical files of an archive once. As its encoders are deterministic,
an archive in which every file has a stream of its own is exactly as large as the one
written plus the streams its shared entries name (found by their offsets in `kmarc list
--json`): rows "every file its own stream" give those bytes, without times of their
own. "today" is zlib's level 6 with every file its own stream, what kmarc wrote before
its default became level 12 and before it shared streams; the ratio column is the bytes
over today's.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

import benchlib

ARCHIVES = benchlib.SETUP_LAYOUT["archives"]
MB = 1000 * 1000


class Measure:
    """Sums of several processes run one after another: wall and CPU seconds, and the
    largest peak resident set among them."""

    def __init__(self):
        self.wall = 0.0
        self.cpu = 0.0
        self.peak_kb = 0

    def run(self, command, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL):
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=stdout, stdin=stdin, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        self.wall += time.monotonic() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        error = process.stderr.read().decode(errors="replace")
        process.stderr.close()
        if process.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(command), process.returncode, error))
        self.cpu += usage.ru_utime + usage.ru_stime
        self.peak_kb = max(self.peak_kb, usage.ru_maxrss)


def archive_folders(payload):
    return [name for name in ARCHIVES if os.path.isdir(os.path.join(payload, name))]


def payload_files(payload):
    files = []
    for archive in archive_folders(payload):
        for folder, _, names in os.walk(os.path.join(payload, archive)):
            files += [os.path.join(folder, name) for name in names]
    return sorted(files)


def kmarc_pack(kmarc, payload, out, options):
    os.makedirs(out, exist_ok=True)
    measure = Measure()
    archives = []
    for archive in archive_folders(payload):
        target = os.path.join(out, archive.lower() + ".kmarc")
        measure.run([kmarc, "pack", "--quiet"] + options + [target, os.path.join(payload, archive)])
        archives.append(target)
    return measure, sum(map(os.path.getsize, archives)), archives


def shared_bytes(kmarc, archives):
    """Bytes of the streams that entries share with an earlier entry of their archive."""
    total = 0
    for archive in archives:
        listing = subprocess.run([kmarc, "list", "--json", archive], stdout=subprocess.PIPE, check=True).stdout
        seen = set()
        for entry in json.loads(listing)["archives"][0]["entries"]:
            if entry["offset"] in seen:
                total += entry["compressedSize"]
            seen.add(entry["offset"])
    return total


def nsis_script(payload, output, compressor):
    lines = ["Unicode false", "SetCompressor " + compressor, 'OutFile "%s"' % output,
             'InstallDir "$TEMP\\bench"', "RequestExecutionLevel user", "SilentInstall silent", "Section"]
    current = None
    for path in payload_files(payload):
        folder = os.path.relpath(os.path.dirname(path), payload).replace(os.sep, "\\")
        if folder != current:
            lines.append('  SetOutPath "$INSTDIR\\%s"' % folder)
            current = folder
        lines.append('  File "%s"' % path)
    lines.append("SectionEnd")
    return "\n".join(lines) + "\n"


def makensis(payload, work, compressor, tag):
    script = os.path.join(work, "nsis-%s.nsi" % tag)
    output = os.path.join(work, "nsis-%s.exe" % tag)
    with open(script, "w") as f:
        f.write(nsis_script(payload, output, compressor))
    measure = Measure()
    measure.run(["makensis", "-V1", script])
    return measure, os.path.getsize(output)


def xz(payload, work):
    tar = os.path.join(work, "payload.tar")
    subprocess.run(["tar", "--sort=name", "--mtime=@0", "--owner=0", "--group=0", "-cf", tar, "-C", payload]
                   + archive_folders(payload), check=True)
    measure = Measure()
    with open(tar + ".xz", "wb") as out:
        measure.run(["xz", "-9", "-T1", "-c", tar], stdout=out)
    return measure, os.path.getsize(tar + ".xz")


def verify(kmarc, archives):
    for archive in archives:
        result = subprocess.run([kmarc, "verify", archive], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            raise RuntimeError("kmarc verify %s failed:\n%s" % (archive, result.stdout.decode(errors="replace")))


def bench_payload(kmarc, name, payload, work, say):
    files = payload_files(payload)
    size = sum(map(os.path.getsize, files))
    largest = max(map(os.path.getsize, files))
    say("%s: %d files, %.1f MB, largest %.1f MB, in %d archives"
        % (name, len(files), size / MB, largest / MB, len(archive_folders(payload))))
    say("  %-52s %13s %7s %8s %8s %8s" % ("", "bytes", "ratio", "wall s", "CPU s", "peak MB"))
    rows = [
        ("kmarc --level 6 (zlib 6)", ["--level", "6"]),
        ("kmarc --level 9 (zlib 9)", ["--level", "9"]),
        ("kmarc --fast (zlib 1)", ["--fast"]),
        ("kmarc --level 10", ["--level", "10"]),
        ("kmarc default (level 12)", []),
    ]
    today = None

    def row(label, packed, measure=None):
        times = ("%8.2f %8.2f %8.1f" % (measure.wall, measure.cpu, measure.peak_kb / 1000) if measure
                 else "%8s %8s %8s" % ("-", "-", "-"))
        say("  %-52s %13s %7.3f %s" % (label, "{:,}".format(packed), packed / today, times))

    for label, options in rows:
        measure, packed, archives = kmarc_pack(kmarc, payload, os.path.join(work, "kmarc"), options)
        own_streams = packed + shared_bytes(kmarc, archives)
        if today is None:
            today = own_streams
            row("zlib 6, every file its own stream (today)", own_streams)
        elif not options:
            row(label + ", every file its own stream", own_streams)
        if not options:
            verify(kmarc, archives)
            label += ", verified"
        row(label, packed, measure)
    for label, run in [("makensis, zlib (not solid)", lambda: makensis(payload, work, "zlib", "zlib")),
                       ("makensis, LZMA (solid)", lambda: makensis(payload, work, "/SOLID lzma", "lzma")),
                       ("xz -9 of a tar (one thread)", lambda: xz(payload, work))]:
        measure, packed = run()
        row(label, packed, measure)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kmarc", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--results", help="file that receives a copy of the section (appended)")
    parser.add_argument("payloads", nargs="+", metavar="NAME=PAYLOAD")
    args = parser.parse_args(argv)

    lines = []

    def say(text=""):
        print(text, flush=True)
        lines.append(text)

    say("Packing (host, native kmarc without sanitizers; one run each; bytes over zlib 6's in the ratio column;")
    say("  peak MB = largest resident set of the packer's processes; NSIS's bytes include its installer stub)")
    for item in args.payloads:
        name, _, payload = item.partition("=")
        work = os.path.join(args.work, name.replace(" ", "-"))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        say()
        bench_payload(args.kmarc, name, payload, work, say)
        shutil.rmtree(work, ignore_errors=True)
    if args.results:
        with open(args.results, "a") as f:
            f.write("\n" + "\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except RuntimeError as failure:
        print("bench: %s" % failure, file=sys.stderr)
        sys.exit(1)
