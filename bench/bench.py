#!/usr/bin/env python3
"""Runs every benchmark side by side and prints one table with the ratios.

bench/run.sh builds what this needs and calls it; see bench/README.md for how to read
the output. Every contestant unpacks the same payload, and every run's output is
compared with the payload before its time counts. The contestants take turns, one run
each per round, so that a change in the machine's load falls on all of them alike.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchlib  # noqa: E402
import payload  # noqa: E402
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
        # Drive letters whose files the driver reads and removes, with their host folders.
        self.drives = {"C:": os.path.join(self.prefix, "drive_c")}

    def run(self, args, env=None):
        return self.run_logged(args, env)[0]

    def run_logged(self, args, env=None):
        """The program's output and Wine's messages."""
        result = subprocess.run([self.run_script] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, env=env, text=True, errors="replace")
        if result.returncode != 0:
            raise BenchFailure("%s failed (exit %d):\n%s%s" % (" ".join(args), result.returncode,
                                                               result.stdout, result.stderr[-3000:]))
        return result.stdout, result.stderr

    def program(self, name):
        return os.path.join(self.bin, name)

    @staticmethod
    def windows_path(unix_path):
        """A host path as Wine's drive Z: shows it."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def host_path(self, windows_path):
        """A path on drive C: of the prefix, or on the memory drive while it is mapped, as
        a host path."""
        drive, rest = windows_path[:2].upper(), windows_path[2:]
        if drive not in self.drives:
            raise BenchFailure("not on a drive of the benchmark: " + windows_path)
        path = self.drives[drive]
        for part in rest.split("\\"):
            if part:
                path = os.path.join(path, existing_spelling(path, part))
        return path


def existing_spelling(folder, name):
    """name as the host spells it in folder: Wine matches names without regard to case
    (C:\\windows\\Temp is windows/temp in the prefix); name itself when nothing matches."""
    if os.path.exists(os.path.join(folder, name)) or not os.path.isdir(folder):
        return name
    matches = [entry for entry in os.listdir(folder) if entry.lower() == name.lower()]
    return matches[0] if len(matches) == 1 else name


def remove_link(path):
    """Removes a drive's link in the prefix, also one whose target is gone."""
    if os.path.islink(path):
        os.remove(path)
    elif os.path.exists(path):
        raise BenchFailure("not a link: " + path)


def check_tree(what, folder, expected):
    problems = benchlib.compare_tree(folder, expected)
    if problems:
        raise BenchFailure("%s left a wrong tree in %s:\n  %s" % (what, folder, "\n  ".join(problems[:10])))


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def listing(folder):
    return set(os.listdir(folder)) if os.path.isdir(folder) else set()


def read_standin_report(path):
    """The stand-in writes its report as it ends, which may be after the launcher ended."""
    deadline = time.time() + STANDIN_WAIT_S
    while time.time() < deadline:
        if os.path.exists(path):
            with open(path, encoding="latin-1") as f:
                report = benchlib.parse_standin_report(f.read())
            if "ExitCode" in report:  # its last line: the report is complete
                return report
        time.sleep(0.05)
    raise BenchFailure("the setup program wrote no report: did the launcher start it?")


# --- the contestants: each run() does one timed run and returns its sample ------------

class StandInStart:
    """A program whose start the stand-in setup program reports: from kmbench-start's
    CreateProcess to the stand-in's first instruction, both read from the system clock
    of the one Wine session. The stand-in exits at once, so nothing runs the cleanup
    script and the launcher waits out its post-launch pause; the launcher's setup
    folder and script are checked and removed here."""

    REPORT = "C:\\bench\\standin-report.txt"

    def __init__(self, wine, program, expected):
        self.wine = wine
        self.program = program
        self.expected = expected
        self.report_host = wine.host_path(self.REPORT)
        self.env = dict(os.environ, KM_STANDIN_REPORT=self.REPORT, KM_STANDIN_EXIT_AT_ONCE="1")
        # An elevated run (every run under Wine) puts its setup folder and script in the
        # system's temporary folder, one that is not elevated in the user's.
        self.temp_hosts = [wine.host_path(wine.run(["cmd", "/c", "echo", folder]).strip())
                           for folder in ("%TEMP%", "%SystemRoot%\\Temp")]
        os.makedirs(os.path.dirname(self.report_host), exist_ok=True)

    def run(self, trace=None):
        """One run; with trace, Wine traces those channels and the sample gets the log."""
        remove(self.report_host)
        before = [listing(folder) for folder in self.temp_hosts]
        env = dict(self.env, KM_WINEDEBUG=trace) if trace else self.env
        try:
            output, log = self.wine.run_logged([self.wine.program("kmbench-start.exe"),
                                                Wine.windows_path(self.program)], env=env)
            started = benchlib.parse_start_line(output)
            if started["exit"] != 0:
                raise BenchFailure("%s ended with exit code %d" % (self.program, started["exit"]))
            report = read_standin_report(self.report_host)
            if self.expected is not None:
                check_tree("the launcher", self.wine.host_path(report["CurrentDirectory"]), self.expected)
        finally:
            for folder, was in zip(self.temp_hosts, before):
                for name in listing(folder) - was:
                    remove(os.path.join(folder, name))
        return {
            "to_setup_ms": float(report["StartUnixMs"]) - started["started_ms"],
            "lifetime_ms": started["ended_ms"] - started["started_ms"],
            "peak_working_set": started["peak_working_set"],
            "peak_private": started["peak_private"],
            "log": log,
        }


class InProcess:
    """kmbench-extract or kmbench-limit: the extraction and its parts, timed inside the
    program on the performance counter."""

    def __init__(self, wine, program, archives, out_windows, expected, whole_only=False):
        self.wine = wine
        self.args = ([wine.program(program)] + (["--whole-only"] if whole_only else []) + ["1", out_windows]
                     + [Wine.windows_path(a) for a in archives])
        self.program = program
        self.out_windows = out_windows
        self.expected = expected

    @property
    def out_host(self):
        # Asked at run time: the memory drive is mapped only while the rounds run.
        return self.wine.host_path(self.out_windows)

    def run(self):
        sample = benchlib.parse_run_lines(self.wine.run(self.args))[0]
        check_tree(self.program, os.path.join(self.out_host, "full"), self.expected)
        remove(self.out_host)
        return sample


class WholeProcess:
    """A Windows program from its start to its end, as kmbench-start sees it."""

    def __init__(self, wine, command, out_host, expected, what):
        self.wine = wine
        self.command = [wine.program("kmbench-start.exe")] + command
        self.out_host = out_host
        self.expected = expected
        self.what = what

    def run(self):
        remove(self.out_host)
        started = benchlib.parse_start_line(self.wine.run(self.command))
        if started["exit"] != 0:
            raise BenchFailure("%s ended with exit code %d" % (self.what, started["exit"]))
        check_tree(self.what, self.out_host, self.expected)
        remove(self.out_host)
        return {"lifetime_ms": started["ended_ms"] - started["started_ms"],
                "peak_working_set": started["peak_working_set"],
                "peak_private": started["peak_private"]}


class HostCommands:
    """Host commands run one after the other, timed together on the monotonic clock."""

    def __init__(self, commands, out_dir, expected, what):
        self.commands = commands
        self.out_dir = out_dir
        self.expected = expected
        self.what = what

    def run(self):
        remove(self.out_dir)
        os.makedirs(self.out_dir)
        begin = time.perf_counter()
        for command in self.commands:
            subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        elapsed = 1000.0 * (time.perf_counter() - begin)
        check_tree(self.what, self.out_dir, self.expected)
        remove(self.out_dir)
        return {"elapsed_ms": elapsed}


class KeptDesktop:
    """kmbench-desktop running for the duration of a with block: Wine's desktop process
    stays up, so that no timed run pays for starting it at its first window, which a
    program on Windows never does."""

    def __init__(self, wine):
        self.wine = wine
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen([self.wine.run_script, self.wine.program("kmbench-desktop.exe")],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        if self.process.stdout.readline().strip() != "ready":
            self.process.kill()
            raise BenchFailure("kmbench-desktop did not start Wine's desktop")
        return self

    def __exit__(self, *_):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
        return False


MEMORY_DRIVE = "M:"
MEMORY_FOLDER_PARENT = "/dev/shm"


class MemoryDrive:
    """Drive M: mapped to a folder in memory (tmpfs) for the duration of a with block.
    Unpacked onto it, the extraction rows show the programs' own work, the system calls
    and zlib, without the disk: on a shared virtual disk the time to write the files
    moves by tens of per cent from one run to the next, which can hide a difference of
    a few per cent between two programs. `available` is false where there is no tmpfs."""

    def __init__(self, wine):
        self.wine = wine
        self.link = os.path.join(wine.prefix, "dosdevices", MEMORY_DRIVE.lower())
        self.folder = None
        self.available = os.path.isdir(MEMORY_FOLDER_PARENT) and os.access(MEMORY_FOLDER_PARENT, os.W_OK)

    def __enter__(self):
        if self.available:
            self.folder = tempfile.mkdtemp(prefix="kmbench-", dir=MEMORY_FOLDER_PARENT)
            remove_link(self.link)
            os.symlink(self.folder, self.link)
            self.wine.drives[MEMORY_DRIVE] = self.folder
        return self

    def __exit__(self, *_):
        if self.folder:
            self.wine.drives.pop(MEMORY_DRIVE, None)
            remove_link(self.link)
            shutil.rmtree(self.folder, ignore_errors=True)
        return False


def memory_contestants(wine, names, archives, expected):
    """Ours and the floor unpacking onto the memory drive, whole only, under the given
    names (ours first)."""
    ours, floor = names
    return {ours: InProcess(wine, "kmbench-extract.exe", archives, MEMORY_DRIVE + "\\ours", expected, whole_only=True),
            floor: InProcess(wine, "kmbench-floor.exe", archives, MEMORY_DRIVE + "\\floor", expected, whole_only=True)}


def round_order(names, round_number):
    """The order of one round, shuffled with the round's number as seed: no contestant
    always runs right after the same other one (whose files the system may still be
    writing back, or whose windows Wine may still be tearing down), and a rerun takes
    the same orders."""
    order = list(names)
    random.Random(round_number).shuffle(order)
    return order


def take_turns(contestants, runs):
    """One warm-up round, whose samples are dropped (it also brings every file into the
    page cache), then runs rounds; returns each contestant's samples by name."""
    samples = {name: [] for name in contestants}
    for round_number in range(runs + 1):
        print("bench: round %d of %d%s" % (round_number, runs, " (warm-up)" if round_number == 0 else ""),
              file=sys.stderr, flush=True)
        for name in round_order(list(contestants), round_number):
            # The previous run's files and their removal go to the disk first, rather
            # than during this run.
            os.sync()
            sample = contestants[name].run()
            if round_number:
                samples[name].append(sample)
    return samples


# --- preparation --------------------------------------------------------------------

def build_peer(payload_dir, work, name="peer"):
    script = os.path.join(work, name + ".nsi")
    exe = os.path.join(work, name + ".exe")
    with open(script, "w") as f:
        f.write(benchlib.nsis_script(payload_dir, exe, "C:\\bench\\peer"))
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


def write_archives(launcher, folder):
    """Writes the launcher's archive resources into folder, one <name>.kmarc each, so
    that the in-process contestants unpack the very streams the launcher does. Returns
    the files of the unpacked archives and of the kept ones, and the bytes all take."""
    with open(launcher, "rb") as f:
        resources = benchlib.archive_resources(f.read())
    os.makedirs(folder, exist_ok=True)
    paths = {}
    for name in benchlib.UNPACKED + benchlib.KEPT:
        if name not in resources:
            raise BenchFailure("the launcher carries no %s archive" % name)
        paths[name] = os.path.join(folder, name.lower() + ".kmarc")
        with open(paths[name], "wb") as f:
            f.write(resources[name])
    return ([paths[name] for name in benchlib.UNPACKED], [paths[name] for name in benchlib.KEPT],
            sum(len(data) for data in resources.values()))


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

    def row(self, label, samples, key):
        s = Summary([sample[key] for sample in samples])
        self.say("  %-54s %3d %8.1f %8.1f %8.1f %6.1f%%" % (label, len(s.values), s.median, s.low, s.high,
                                                          s.spread_percent))
        return s


def paired_ratios_of(numerators, denominators, key):
    return benchlib.paired_ratios([sample[key] for sample in numerators], [sample[key] for sample in denominators])


def median_of(samples, key):
    return Summary([sample[key] for sample in samples]).median


def breakdown(table, label, samples, writes):
    total = median_of(samples, "total_ms")
    inflate = median_of(samples, "inflate_ms")
    folders = median_of(samples, "folders_ms")
    files = median_of(samples, "files_ms")
    table.say("  %-6s whole %7.1f = inflate %6.1f (%2.0f%%) + folders %5.1f (%2.0f%%) + files %6.1f (%2.0f%%)"
              " + rest %6.1f" % (label, total, inflate, 100 * inflate / total, folders, 100 * folders / total,
                                 files, 100 * files / total, total - inflate - folders - files))
    table.say("  %-6s %d write calls, %.2f us per call including file creation"
              % ("", writes, 1000.0 * files / writes))


def print_timeline(table, log):
    table.say()
    table.say("Launch timeline: one more run, traced (WINEDEBUG=%s, which slows it down)" % benchlib.TRACE_CHANNELS)
    milestones = benchlib.parse_launch_trace(log, "ZIZeduz.exe", "Zephrun.exe")
    if milestones is None:
        table.say("  not available: the trace lacks a milestone")
        return
    previous = milestones["start"]
    for key, description in benchlib.LAUNCH_PHASES:
        table.say("  %7.0f ms  %s" % (1000.0 * (milestones[key] - previous), description))
        previous = milestones[key]
    table.say("  %7.0f ms  in all" % (1000.0 * (previous - milestones["start"])))


def code_and_data(path):
    """(bytes in memory, bytes in the file) of every section but the resources."""
    with open(path, "rb") as f:
        data = f.read()
    return benchlib.code_and_data_size(data), benchlib.code_and_data_size(data, in_file=True)


def print_sizes(table, launcher, stripped, payload_in_launcher, stub, peer):
    launcher_size = os.path.getsize(launcher)
    stub_size = os.path.getsize(stub)
    table.say("Sizes in bytes")
    table.say("  launcher without payload: %d as built, %d stripped again (payload: %d in the 8 archives)"
              % (launcher_size - payload_in_launcher, stripped - payload_in_launcher, payload_in_launcher))
    (ours, ours_file), (theirs, theirs_file) = code_and_data(launcher), code_and_data(stub)
    table.say("  code and data (every section but the resources), launcher / NSIS zlib x86 stub:")
    table.say("    in memory %d (%.1f KiB) / %d = %.2f;  in the file %d (%.1f KiB) / %d = %.2f"
              % (ours, ours / 1024.0, theirs, ratio(ours, theirs), ours_file, ours_file / 1024.0, theirs_file,
                 ratio(ours_file, theirs_file)))
    table.say("  NSIS zlib x86 stub (%s): %d in all;  peer installer: %d (the stub and %d of script and files)"
              % (os.path.basename(stub), stub_size, os.path.getsize(peer), os.path.getsize(peer) - stub_size))


def memory_line(table, samples, label, key):
    table.say("  %-17s launcher %5.1f;  peer installer %5.1f;  floor program %5.1f;  limit program %5.1f;"
              "  setup program started alone %5.1f" % ((label,) + tuple(
                  median_of(samples[name], key) / MB
                  for name in ("launch", "peer", "floor_process", "limit_process", "standin"))))


# --- BENCH_SCALE=1: many small files, one large file ---------------------------------

def scale_payload(kind, kmarc, work):
    """Writes one scale payload and packs its one archive; returns (payload, archive)."""
    folder = os.path.join(work, "scale-" + kind)
    remove(folder)
    count, size = payload.SCALE_PAYLOADS[kind](folder)
    archive = os.path.join(work, "scale-%s.kmarc" % kind)
    remove(archive)
    subprocess.run([kmarc, "pack", archive, os.path.join(folder, benchlib.UNPACKED[0])], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)
    return folder, archive, count, size


def run_scale(table, wine, memory, kmarc, work, runs):
    table.say()
    table.say("Scale (BENCH_SCALE=1): the extraction alone in process, and the peer installer from start to end;"
              " medians of %d rounds after one warm-up round" % runs)
    table.say("  %-44s %3s %9s %7s %12s %9s" % ("", "n", "median ms", "spread", "ms per entry", "ms per MB"))
    for kind, title in (("files", "10,000 small files in 200 folders"), ("large", "one file of 300 MB")):
        print("bench: scale payload: %s" % title, file=sys.stderr, flush=True)
        folder, archive, count, size = scale_payload(kind, kmarc, work)
        expected = benchlib.expected_tree(folder)
        peer = build_peer(folder, work, "peer-" + kind)
        contestants = {
            "ours": InProcess(wine, "kmbench-extract.exe", [archive], "C:\\bench\\ours", expected, whole_only=True),
            "floor": InProcess(wine, "kmbench-floor.exe", [archive], "C:\\bench\\floor", expected, whole_only=True),
            "peer": WholeProcess(wine, [Wine.windows_path(peer), "/S", "/D=C:\\bench\\peer"],
                                 wine.host_path("C:\\bench\\peer"), expected, "the peer installer"),
        }
        if memory.available:
            contestants.update(memory_contestants(wine, ("ours_memory", "floor_memory"), [archive], expected))
        samples = take_turns(contestants, runs)
        table.say("%s: %d files, %.1f MB, packed to %.1f MB" % (title, count, size / MB, os.path.getsize(archive) / MB))
        medians = {}
        rows = [("ours", "total_ms", "ours: extraction alone (ExtractEntry)"),
                ("floor", "total_ms", "floor: extraction alone"),
                ("peer", "lifetime_ms", "peer: NSIS installer, start -> end")]
        if memory.available:
            rows += [("ours_memory", "total_ms", "ours: the same onto a memory drive"),
                     ("floor_memory", "total_ms", "floor: the same onto a memory drive")]
        for name, key, label in rows:
            summary = Summary([sample[key] for sample in samples[name]])
            medians[name] = summary.median
            table.say("  %-44s %3d %9.1f %6.1f%% %12.4f %9.2f" % (label, len(summary.values), summary.median,
                                                                  summary.spread_percent, summary.median / count,
                                                                  summary.median / (size / MB)))
        paired = paired_ratios_of(samples["ours"], samples["floor"], "total_ms")
        table.say("  ours / floor %.3f;  ours / peer %.2f;  ours / floor, the rounds' own ratios: median %.3f"
                  " (%.3f to %.3f)" % (ratio(medians["ours"], medians["floor"]), ratio(medians["ours"], medians["peer"]),
                                       paired.median, paired.low, paired.high))
        if memory.available:
            paired = paired_ratios_of(samples["ours_memory"], samples["floor_memory"], "total_ms")
            table.say("  onto a memory drive: ours / floor %.3f;  the rounds' own ratios: median %.3f (%.3f to %.3f)"
                      % (ratio(medians["ours_memory"], medians["floor_memory"]), paired.median, paired.low,
                         paired.high))
        remove(folder)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--payload", required=True)
    parser.add_argument("--win32-build", required=True)
    parser.add_argument("--kmarc", required=True, help="native kmarc built without sanitizers")
    parser.add_argument("--work", required=True, help="scratch folder")
    parser.add_argument("--strip", default="i686-w64-mingw32-strip")
    parser.add_argument("--nsis-stub", default="/usr/share/nsis/Stubs/zlib-x86-ansi")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--scale-runs", type=int, default=0, help="rounds of the scale payloads; 0 leaves them out")
    parser.add_argument("--results", help="file that receives a copy of the printed table")
    args = parser.parse_args(argv)

    wine = Wine(args.win32_build)
    os.makedirs(args.work, exist_ok=True)
    # A folder of its own, as a downloaded setup file has: beside the build's copy of the
    # setup program, the shell would start that one instead of the unpacked one.
    launcher = os.path.join(args.work, "launcher", "ZIZeduz.exe")
    os.makedirs(os.path.dirname(launcher), exist_ok=True)
    shutil.copyfile(wine.program("ZIZeduz.exe"), launcher)
    expected = benchlib.expected_tree(args.payload)
    entries = benchlib.unpacked_entries(args.payload)
    sizes = [os.path.getsize(os.path.join(args.payload, a, *n.split("\\"))) for a, n in entries]
    archives, kept, payload_in_launcher = write_archives(launcher, os.path.join(args.work, "archives"))
    peer = build_peer(args.payload, args.work)
    zips = build_zips(args.payload, args.work)
    host_out = os.path.join(args.work, "host")
    windows_archives = [Wine.windows_path(a) for a in archives]

    contestants = {
        "launch": StandInStart(wine, launcher, expected),
        "extract": InProcess(wine, "kmbench-extract.exe", archives, "C:\\bench\\ours", expected),
        "peer": WholeProcess(wine, [Wine.windows_path(peer), "/S", "/D=C:\\bench\\peer"],
                             wine.host_path("C:\\bench\\peer"), expected, "the peer installer"),
        "floor": InProcess(wine, "kmbench-floor.exe", archives, "C:\\bench\\floor", expected),
        "floor_process": WholeProcess(
            wine, [wine.program("kmbench-floor.exe"), "--whole-only", "1", "C:\\bench\\floorproc"] + windows_archives,
            os.path.join(wine.host_path("C:\\bench\\floorproc"), "full"), expected, "the floor program"),
        "limit": InProcess(wine, "kmbench-limit.exe", archives, "C:\\bench\\limit", expected),
        "limit_process": WholeProcess(
            wine, [wine.program("kmbench-limit.exe"), "--whole-only", "1", "C:\\bench\\limitproc"] + windows_archives,
            os.path.join(wine.host_path("C:\\bench\\limitproc"), "full"), expected, "the limit program"),
        "standin": StandInStart(wine, wine.program("Zephrun.exe"), None),
        "kmarc": HostCommands([[args.kmarc, "extract", "--quiet", a, host_out] for a in archives], host_out, expected,
                              "kmarc extract"),
        "unzip": HostCommands([["unzip", "-q", "-o", z, "-d", host_out] for z in zips], host_out, expected, "unzip"),
    }
    table = Table()
    with KeptDesktop(wine), MemoryDrive(wine) as memory:
        if memory.available:
            contestants.update(memory_contestants(wine, ("extract_memory", "floor_memory"), archives, expected))
        else:
            print("bench: no tmpfs at %s, so no rows onto a memory drive" % MEMORY_FOLDER_PARENT, file=sys.stderr)
        samples = take_turns(contestants, args.runs)
        traced = contestants["launch"].run(trace=benchlib.TRACE_CHANNELS)

        packed = sum(map(os.path.getsize, archives))
        table.say("Payload: %d files, %.1f MB, largest %.1f MB; the six archives pack it to %.1f MB (%.0f %%)"
                  % (len(entries), sum(sizes) / MB, max(sizes) / MB, packed / MB, 100.0 * packed / sum(sizes)))
        table.say("Times in ms over %d rounds after one warm-up round; spread = (max - min) / median." % args.runs)
        table.say("Wine's desktop process is kept running throughout (kmbench-desktop), as Windows' is.")
        table.say()
        table.say("  %-54s %3s %8s %8s %8s %7s" % ("", "n", "median", "min", "max", "spread"))
        table.say("Wine")
        launch = table.row("1 ours: launcher start -> setup program start", samples["launch"], "to_setup_ms")
        extract = table.row("1 ours: extraction alone (ExtractEntry, in process)", samples["extract"], "total_ms")
        peer_time = table.row("2 peer: NSIS zlib installer, silent: start -> end", samples["peer"], "lifetime_ms")
        floor = table.row("3 floor: extraction alone (113/100-byte reads/writes)", samples["floor"], "total_ms")
        if memory.available:
            extract_memory = table.row("1 ours: extraction alone, onto a memory drive", samples["extract_memory"],
                                       "total_ms")
            floor_memory = table.row("3 floor: extraction alone, onto a memory drive", samples["floor_memory"],
                                     "total_ms")
        floor_process = table.row("3 floor: process start -> end", samples["floor_process"], "lifetime_ms")
        limit = table.row("4 limit: extraction alone (zlib, 64 KiB writes)", samples["limit"], "total_ms")
        limit_process = table.row("4 limit: process start -> end", samples["limit_process"], "lifetime_ms")
        standin = table.row("  process start -> first instruction (setup program)", samples["standin"], "to_setup_ms")
        table.say("Host (native, no sanitizers)")
        kmarc = table.row("5 kmarc extract, six archives", samples["kmarc"], "elapsed_ms")
        unzip = table.row("5 unzip, six zips of the same folders", samples["unzip"], "elapsed_ms")

        table.say()
        table.say("Ratios of the medians")
        table.say("  ours / floor   extraction alone               /  extraction alone        %6.3f"
                  % ratio(extract.median, floor.median))
        paired = paired_ratios_of(samples["extract"], samples["floor"], "total_ms")
        table.say("  ours / floor   extraction alone, the rounds' own ratios: median %.3f (%.3f to %.3f)"
                  % (paired.median, paired.low, paired.high))
        if memory.available:
            paired = paired_ratios_of(samples["extract_memory"], samples["floor_memory"], "total_ms")
            table.say("  ours / floor   extraction alone onto a memory drive                     %6.3f"
                      % ratio(extract_memory.median, floor_memory.median))
            table.say("  ours / floor   the same, the rounds' own ratios: median %.3f (%.3f to %.3f)"
                      % (paired.median, paired.low, paired.high))
        table.say("  ours / floor   launcher start -> setup start  /  process start -> end    %6.2f"
                  % ratio(launch.median, floor_process.median))
        table.say("  ours / peer    launcher start -> setup start  /  installer start -> end  %6.2f"
                  % ratio(launch.median, peer_time.median))
        table.say("  ours / limit   extraction alone               /  extraction alone        %6.2f"
                  % ratio(extract.median, limit.median))
        table.say("  floor / limit  extraction alone: the cost of 113-byte reads and 100-byte writes %5.2f"
                  % ratio(floor.median, limit.median))
        table.say("  kmarc / unzip  on the host                                               %6.2f"
                  % ratio(kmarc.median, unzip.median))

        table.say()
        print_sizes(table, launcher, stripped_size(launcher, args.strip, args.work), payload_in_launcher,
                    args.nsis_stub, peer)

        table.say()
        table.say("Peak memory in MB (medians, as Wine reports it: Wine's own libraries included)")
        memory_line(table, samples, "working set:", "peak_working_set")
        memory_line(table, samples, "private (commit):", "peak_private")

        table.say()
        table.say("Where the time goes (medians in ms; each part timed alone into a fresh folder)")
        writes = sum(benchlib.write_count(size, LAUNCHER_PIECE) for size in sizes)
        breakdown(table, "ours", samples["extract"], writes)
        breakdown(table, "floor", samples["floor"], writes)
        breakdown(table, "limit", samples["limit"], sum(benchlib.write_count(size, LIMIT_PIECE) for size in sizes))
        rest = launch.median - extract.median - 2 * standin.median
        table.say("  launcher start -> setup start %.1f = extraction %.1f + 2 process starts %.1f + the rest %.1f"
                  % (launch.median, extract.median, 2 * standin.median, rest))
        table.say("    (the rest: loading the image, the splash until its first paint, names, script, shell launch)")
        table.say("  floor process start -> end %.1f = extraction %.1f + 1 process start %.1f + reading the archives"
                  " and the rest %.1f" % (floor_process.median, floor.median, standin.median,
                                          floor_process.median - floor.median - standin.median))
        table.say("  the launcher's whole lifetime: %.0f (after the launch it waits until the setup program takes"
                  " the focus, at most 5 s)" % median_of(samples["launch"], "lifetime_ms"))
        print_timeline(table, traced["log"])

        if args.scale_runs:
            run_scale(table, wine, memory, args.kmarc, args.work, args.scale_runs)

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
