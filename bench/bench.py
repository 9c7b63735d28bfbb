#!/usr/bin/env python3
"""Runs every benchmark side by side and prints one table with the ratios.

bench/run.sh builds what this needs and calls it; see bench/README.md for how to read
the output. Every contestant unpacks the same payload, and every run's output is
compared with the payload before its time counts.
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchlib  # noqa: E402
from benchlib import BenchFailure, Summary, ratio  # noqa: E402

STANDIN_WAIT_S = 30
LAUNCHER_PIECE = 100     # bytes per write of the launcher's inflater
LIMIT_PIECE = 64 * 1024  # bytes per write of the limit program
MB = 1000.0 * 1000.0


class Wine:
    """Runs Windows programs through a build tree's Wine wrapper, so that every Windows
    contestant runs in one prefix under one wineserver."""

    def __init__(self, build_dir):
        self.run_script = os.path.join(build_dir, "wine-run")
        self.prefix = os.path.join(build_dir, "wineprefix")
        self.bin = os.path.join(build_dir, "bin")

    def run(self, args, env=None, check=True):
        result = subprocess.run([self.run_script] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, env=env, text=True, errors="replace")
        if check and result.returncode != 0:
            raise BenchFailure("%s failed (exit %d):\n%s%s" % (" ".join(args), result.returncode,
                                                               result.stdout, result.stderr))
        return result.stdout

    def program(self, name):
        return os.path.join(self.bin, name)

    @staticmethod
    def windows_path(unix_path):
        """A host path as Wine's drive Z: shows it."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def host_path(self, windows_path):
        """A path on drive C: of the prefix as a host path."""
        drive, rest = windows_path[:2], windows_path[2:]
        if drive.upper() != "C:":
            raise BenchFailure("not on drive C: " + windows_path)
        return os.path.join(self.prefix, "drive_c", *[part for part in rest.split("\\") if part])



def check_tree(what, folder, expected):
    problems = benchlib.compare_tree(folder, expected)
    if problems:
        raise BenchFailure("%s left a wrong tree in %s:\n  %s" % (what, folder, "\n  ".join(problems[:10])))


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


# --- the contestants ----------------------------------------------------------------

def time_launcher(wine, launcher, expected, runs):
    """Ours end to end: the launcher's process start to the setup program's start, both on
    the system clock of the one Wine session. The stand-in exits at once, so the
    launcher then waits out its post-launch pause and its setup folder stays for the
    check; the harness removes it."""
    report_windows = "C:\\bench\\standin-report.txt"
    report_host = wine.host_path(report_windows)
    env = dict(os.environ, KM_STANDIN_REPORT=report_windows, KM_STANDIN_EXIT_AT_ONCE="1")
    temp_host = wine.host_path(wine.run(["cmd", "/c", "echo", "%TEMP%"]).strip())
    samples = []
    for run in range(runs + 1):
        remove(report_host)
        before = set(os.listdir(temp_host)) if os.path.isdir(temp_host) else set()
        started = benchlib.parse_start_line(
            wine.run([wine.program("kmbench-start.exe"), wine.windows_path(launcher)], env=env))
        if started["exit"] != 0:
            raise BenchFailure("the launcher ended with exit code %d" % started["exit"])
        deadline = time.time() + STANDIN_WAIT_S
        while not os.path.exists(report_host) and time.time() < deadline:
            time.sleep(0.05)
        if not os.path.exists(report_host):
            raise BenchFailure("the setup program wrote no report: did the launcher start it?")
        time.sleep(0.05)  # the stand-in writes its report in one go as it ends
        with open(report_host, encoding="latin-1") as f:
            report = benchlib.parse_standin_report(f.read())
        setup_folder = wine.host_path(report["CurrentDirectory"])
        check_tree("the launcher", setup_folder, expected)
        for name in set(os.listdir(temp_host)) - before:
            remove(os.path.join(temp_host, name))
        if run == 0:
            continue  # warm-up: the first start also loads the files into the page cache
        samples.append({
            "to_setup_ms": float(report["StartUnixMs"]) - started["started_ms"],
            "lifetime_ms": started["ended_ms"] - started["started_ms"],
            "peak_working_set": started["peak_working_set"],
        })
    return samples


def time_in_process(wine, program, archives, out_windows, expected, runs):
    """kmbench-extract or kmbench-limit: RUNS in one process, the first dropped as warm-up."""
    args = [wine.program(program), str(runs + 1), out_windows] + [wine.windows_path(a) for a in archives]
    samples = benchlib.parse_run_lines(wine.run(args))[1:]
    check_tree(program, os.path.join(wine.host_path(out_windows), "full"), expected)
    remove(wine.host_path(out_windows))
    return samples


def time_process(wine, command, out_host, expected, runs, what):
    """A Windows program from its start to its end, with one warm-up run."""
    samples = []
    for run in range(runs + 1):
        remove(out_host)
        started = benchlib.parse_start_line(wine.run([wine.program("kmbench-start.exe")] + command))
        if started["exit"] != 0:
            raise BenchFailure("%s ended with exit code %d" % (what, started["exit"]))
        check_tree(what, out_host, expected)
        if run:
            samples.append({"lifetime_ms": started["ended_ms"] - started["started_ms"],
                            "peak_working_set": started["peak_working_set"]})
    remove(out_host)
    return samples


def time_host(commands, out_dir, expected, runs, what):
    """A sequence of host commands, timed together on the monotonic clock."""
    samples = []
    for run in range(runs + 1):
        remove(out_dir)
        os.makedirs(out_dir)
        begin = time.perf_counter()
        for command in commands:
            subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        elapsed = 1000.0 * (time.perf_counter() - begin)
        check_tree(what, out_dir, expected)
        if run:
            samples.append(elapsed)
    remove(out_dir)
    return samples


# --- preparation --------------------------------------------------------------------

def build_peer(payload, work):
    script = os.path.join(work, "peer.nsi")
    exe = os.path.join(work, "peer.exe")
    with open(script, "w") as f:
        f.write(benchlib.nsis_script(payload, exe, "C:\\bench\\peer"))
    subprocess.run(["makensis", "-V1", script], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return exe


def build_zips(payload, work):
    zips = []
    for archive in benchlib.UNPACKED:
        target = os.path.join(work, archive + ".zip")
        remove(target)
        # Level 6 is zlib's default level, the one the archives are packed with.
        subprocess.run(["zip", "-q", "-r", "-X", "-6", target, "."], check=True,
                       cwd=os.path.join(payload, archive), stdin=subprocess.DEVNULL)
        zips.append(target)
    return zips


def check_same_archives(launcher, archives):
    """The launcher must carry exactly the archive files the in-process contestants
    unpack, or the comparison is not of the same streams."""
    with open(launcher, "rb") as f:
        resources = benchlib.archive_resources(f.read())
    for path in archives:
        name = os.path.splitext(os.path.basename(path))[0].upper()
        with open(path, "rb") as f:
            if resources.get(name) != f.read():
                raise BenchFailure("the launcher's %s resource differs from %s" % (name, path))
    return sum(len(data) for data in resources.values())


def stripped_size(path, strip_tool, work):
    copy = os.path.join(work, "stripped-" + os.path.basename(path))
    subprocess.run([strip_tool, "-o", copy, path], check=True, stdin=subprocess.DEVNULL)
    return os.path.getsize(copy)


# --- printing -----------------------------------------------------------------------

class Table:
    def __init__(self):
        self.lines = []

    def say(self, text=""):
        self.lines.append(text)
        print(text, flush=True)

    def row(self, label, values, unit="ms"):
        s = Summary(values)
        self.say("  %-52s %3d %9.1f %9.1f %9.1f %6.1f%%  %s" % (label, len(s.values), s.median, s.low, s.high,
                                                              s.spread_percent, unit))
        return s


def median_of(samples, key):
    return Summary([sample[key] for sample in samples]).median


def breakdown(table, label, samples, writes):
    total = median_of(samples, "total_ms")
    inflate = median_of(samples, "inflate_ms")
    folders = median_of(samples, "folders_ms")
    files = median_of(samples, "files_ms")
    table.say("  %-22s whole %7.1f = inflate %6.1f (%2.0f%%) + folders %5.1f (%2.0f%%) + files %6.1f (%2.0f%%)"
              " + rest %6.1f;  %d writes, %.2f us each"
              % (label, total, inflate, 100 * inflate / total, folders, 100 * folders / total, files,
                 100 * files / total, total - inflate - folders - files, writes, 1000.0 * files / writes))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--payload", required=True)
    parser.add_argument("--archives", required=True, help="folder of the launcher's packed archives")
    parser.add_argument("--win32-build", required=True)
    parser.add_argument("--kmarc", required=True, help="native kmarc built without sanitizers")
    parser.add_argument("--work", required=True, help="scratch folder")
    parser.add_argument("--strip", default="i686-w64-mingw32-strip")
    parser.add_argument("--nsis-stub", default="/usr/share/nsis/Stubs/zlib-x86-ansi")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--results", help="file that receives a copy of the printed table")
    args = parser.parse_args(argv)

    wine = Wine(args.win32_build)
    launcher = wine.program("ZIZeduz.exe")
    os.makedirs(args.work, exist_ok=True)
    expected = benchlib.expected_tree(args.payload)
    entries = benchlib.unpacked_entries(args.payload)
    sizes = [os.path.getsize(os.path.join(args.payload, a, *n.split("\\"))) for a, n in entries]
    archives = [os.path.join(args.archives, name.lower() + ".kmarc") for name in benchlib.UNPACKED]
    kept = [os.path.join(args.archives, name.lower() + ".kmarc") for name in benchlib.KEPT]
    payload_in_launcher = check_same_archives(launcher, archives + kept)
    peer = build_peer(args.payload, args.work)
    zips = build_zips(args.payload, args.work)
    runs = args.runs

    table = Table()
    table.say("Payload: %d files, %.1f MB, largest %.1f MB; the six archives pack it to %.1f MB (%.0f %%)"
              % (len(entries), sum(sizes) / MB, max(sizes) / MB, sum(map(os.path.getsize, archives)) / MB,
                 100.0 * sum(map(os.path.getsize, archives)) / sum(sizes)))
    table.say("Each row: runs after one warm-up, median, min, max, spread = (max - min) / median.")
    table.say()
    table.say("  %-52s %3s %9s %9s %9s %7s" % ("", "n", "median", "min", "max", "spread"))

    table.say("Wine")
    launch = time_launcher(wine, launcher, expected, runs)
    ours_launch = table.row("1 ours: launcher start -> setup program start", [s["to_setup_ms"] for s in launch])
    ours_extract_samples = time_in_process(wine, "kmbench-extract.exe", archives, "C:\\bench\\ours", expected, runs)
    ours_extract = table.row("1 ours: extraction alone (ExtractEntry, in process)",
                             [s["total_ms"] for s in ours_extract_samples])
    peer_samples = time_process(wine, [wine.windows_path(peer), "/S", "/D=C:\\bench\\peer"],
                                wine.host_path("C:\\bench\\peer"), expected, runs, "the peer installer")
    peer_time = table.row("2 peer: NSIS zlib installer, silent, start -> end", [s["lifetime_ms"] for s in peer_samples])
    limit_samples = time_in_process(wine, "kmbench-limit.exe", archives, "C:\\bench\\limit", expected, runs)
    limit_extract = table.row("3 limit: extraction alone (zlib, 64 KiB writes)", [s["total_ms"] for s in limit_samples])
    limit_process_samples = time_process(
        wine, [wine.program("kmbench-limit.exe"), "--whole-only", "1", "C:\\bench\\limitproc"]
        + [wine.windows_path(a) for a in archives],
        os.path.join(wine.host_path("C:\\bench\\limitproc"), "full"), expected, runs, "the limit program")
    limit_process = table.row("3 limit: process start -> end", [s["lifetime_ms"] for s in limit_process_samples])
    table.say("Host (native, no sanitizers)")
    kmarc_time = table.row("4 kmarc extract, six archives",
                           time_host([[args.kmarc, "extract", a, os.path.join(args.work, "host")] for a in archives],
                                     os.path.join(args.work, "host"), expected, runs, "kmarc extract"))
    unzip_time = table.row("4 unzip, six zips of the same folders",
                           time_host([["unzip", "-q", "-o", z, "-d", os.path.join(args.work, "host")] for z in zips],
                                     os.path.join(args.work, "host"), expected, runs, "unzip"))

    table.say()
    table.say("Ratios (medians)")
    table.say("  ours / peer    launcher start -> setup start  vs  installer start -> end   %6.2f"
              % ratio(ours_launch.median, peer_time.median))
    table.say("  ours / limit   extraction alone               vs  extraction alone         %6.2f"
              % ratio(ours_extract.median, limit_extract.median))
    table.say("  ours / limit   launcher start -> setup start  vs  process start -> end     %6.2f"
              % ratio(ours_launch.median, limit_process.median))
    table.say("  kmarc / unzip  on the host                                                 %6.2f"
              % ratio(kmarc_time.median, unzip_time.median))

    table.say()
    launcher_size = os.path.getsize(launcher)
    stub = os.path.getsize(args.nsis_stub)
    stripped = stripped_size(launcher, args.strip, args.work)
    table.say("Sizes")
    table.say("  launcher without payload: %d bytes as built, %d stripped (payload %d bytes in 8 archives)"
              % (launcher_size - payload_in_launcher, stripped - payload_in_launcher, payload_in_launcher))
    table.say("  NSIS zlib x86 stub (%s): %d bytes;  launcher / stub: %.2f as built, %.2f stripped"
              % (os.path.basename(args.nsis_stub), stub, ratio(launcher_size - payload_in_launcher, stub),
                 ratio(stripped - payload_in_launcher, stub)))
    table.say("  peer installer: %d bytes (stub + %d bytes of script and the six folders' files)"
              % (os.path.getsize(peer), os.path.getsize(peer) - stub))

    table.say()
    table.say("Peak working set (median, as Wine reports it, Wine's own libraries included)")
    table.say("  launcher %.1f MB;  peer installer %.1f MB;  limit program %.1f MB"
              % (median_of(launch, "peak_working_set") / MB, median_of(peer_samples, "peak_working_set") / MB,
                 median_of(limit_process_samples, "peak_working_set") / MB))
    table.say("  (the launcher's whole lifetime is %.0f ms: with the stand-in exiting at once it waits out"
              " its 5 s post-launch pause)" % median_of(launch, "lifetime_ms"))

    table.say()
    table.say("Where the extraction's time goes (medians, ms; each part timed alone into a fresh folder)")
    breakdown(table, "ours (100-byte writes)", ours_extract_samples,
              sum(benchlib.write_count(size, LAUNCHER_PIECE) for size in sizes))
    breakdown(table, "limit (64 KiB writes)", limit_samples,
              sum(benchlib.write_count(size, LIMIT_PIECE) for size in sizes))
    table.say("  launcher start -> setup start minus extraction alone: %.1f ms (process start, splash, "
              "names, script, shell launch)" % (ours_launch.median - ours_extract.median))

    if args.results:
        with open(args.results, "w") as f:
            f.write("\n".join(table.lines) + "\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BenchFailure as failure:
        print("bench: %s" % failure, file=sys.stderr)
        sys.exit(1)
