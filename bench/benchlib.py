"""The parts of the benchmark driver that do not run anything: statistics, the reports
of the Windows benchmark programs, the expected output tree, the peer's installer
script, and the archive resources inside a Windows executable."""

import os
import re
import struct

LAYOUT_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "archive", "SetupLayout.h")


def read_setup_layout(path=LAYOUT_HEADER):
    """The setup layout as archive/SetupLayout.h states it, the one place that spells it:
    {"archives": [names in unpacking order], "unpacked": count, "type": resource type,
    "setup_program": name, "waiting_program": name, "program_archive": name}."""
    with open(path, encoding="utf-8") as f:
        text = f.read()

    def constant(name, pattern):
        found = re.search(r"constexpr[^=;]*\b%s\b[^=;]*=\s*%s\s*;" % (name, pattern), text)
        if not found:
            raise ValueError("%s: no %s" % (path, name))
        return found.group(1)

    archives = re.findall(r'"([^"]*)"', constant("kSetupArchiveNames", r"\{([^}]*)\}"))
    if len(archives) != int(constant("kSetupArchiveCount", r"(\d+)")):
        raise ValueError("%s: kSetupArchiveNames does not hold kSetupArchiveCount names" % path)
    return {
        "archives": archives,
        "unpacked": int(constant("kUnpackedArchiveCount", r"(\d+)")),
        "type": constant("kArchiveResourceType", r'"([^"]*)"'),
        "setup_program": constant("kSetupProgram", r'"([^"]*)"'),
        "waiting_program": constant("kWaitingProgram", r'"([^"]*)"'),
        "program_archive": archives[int(constant("kSetupProgramArchive", r"(\d+)"))],
    }


SETUP_LAYOUT = read_setup_layout()
# The six archives the launcher unpacks, in its order, and the two it keeps.
UNPACKED = SETUP_LAYOUT["archives"][:SETUP_LAYOUT["unpacked"]]
KEPT = SETUP_LAYOUT["archives"][SETUP_LAYOUT["unpacked"]:]
ARCHIVE_RESOURCE_TYPE = SETUP_LAYOUT["type"]

# FILETIME counts 100 ns steps from 1601-01-01; the stand-in reports Unix milliseconds.
FILETIME_AT_1970 = 116444736000000000
FILETIME_STEPS_PER_MS = 10000


class BenchFailure(Exception):
    """Something the benchmark measured did not do its job, so its numbers mean nothing."""


# --- statistics ---------------------------------------------------------------------

def median(values):
    ordered = sorted(values)
    if not ordered:
        raise ValueError("median of nothing")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2.0


class Summary:
    """Median and spread of one measurement over its runs."""

    def __init__(self, values):
        self.values = list(values)
        self.median = median(self.values)
        self.low = min(self.values)
        self.high = max(self.values)

    @property
    def spread_percent(self):
        """The whole range as a share of the median."""
        return 100.0 * (self.high - self.low) / self.median if self.median else 0.0


def ratio(numerator, denominator):
    return numerator / denominator if denominator else float("inf")


def paired_ratios(numerators, denominators):
    """Summary of the ratios of two contestants' samples taken in the same rounds: a
    change in the machine's load during a round falls on both, so these ratios scatter
    less than the times do."""
    if len(numerators) != len(denominators):
        raise ValueError("the two contestants ran a different number of rounds")
    return Summary(ratio(a, b) for a, b in zip(numerators, denominators))


# --- reports of the Windows programs ------------------------------------------------

def parse_pairs(line, first_key):
    """'key value key value ...' into a dict of numbers; the line must start with
    first_key."""
    words = line.split()
    if len(words) % 2 or not words or words[0] != first_key:
        raise BenchFailure("unexpected report line: %r" % line)
    return {key: float(value) for key, value in zip(words[0::2], words[1::2])}


def parse_run_lines(output):
    """The 'run N total_ms ...' lines of kmbench-extract and kmbench-limit."""
    runs = [parse_pairs(line, "run") for line in output.splitlines() if line.startswith("run ")]
    if not runs:
        raise BenchFailure("no run reported:\n" + output)
    return runs


def parse_start_line(output):
    """kmbench-start's line; times become Unix milliseconds."""
    lines = [line for line in output.splitlines() if line.startswith("started ")]
    if len(lines) != 1:
        raise BenchFailure("kmbench-start reported nothing usable:\n" + output)
    pairs = parse_pairs(lines[0], "started")
    words = lines[0].split()
    started, ended = int(words[1]), int(words[3])
    return {
        "started_ms": (started - FILETIME_AT_1970) / FILETIME_STEPS_PER_MS,
        "ended_ms": (ended - FILETIME_AT_1970) / FILETIME_STEPS_PER_MS,
        "exit": int(pairs["exit"]),
        "peak_working_set": int(pairs["peak_working_set"]),
        "peak_private": int(pairs["peak_private"]),
    }


def parse_standin_report(text):
    """The stand-in's 'Key=value' lines; a key given twice keeps its last value."""
    values = {}
    for line in text.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key] = value
    return values


# --- a traced launch -----------------------------------------------------------------

# WINEDEBUG channels of the traced launch: process creation, DLL loading and the
# runtime's per-drive current directories, which move when the extractor makes folders.
TRACE_CHANNELS = "+timestamp,+loaddll,+process"
_TRACE_LINE = re.compile(r"^(\d+\.\d+):([0-9a-f]+):trace:(\w+):(\w+) (.*)$")

LAUNCH_PHASES = [
    ("created", "the launcher's process is created and its image mapped"),
    ("display", "libraries loaded and runtime started, up to the splash's display driver"),
    ("extracting", "splash up to its first paint, free space, names, script opening"),
    ("launching", "extraction, script closing, up to the shell's process creation"),
    ("setup", "the setup program's process is created"),
]


def parse_launch_trace(text, launcher_name, setup_name):
    """Milestones of one traced launch, in seconds of the trace clock, or None when the
    trace lacks one of them:
      start       kmbench-start asks for the launcher's process
      created     the launcher's image is loaded (its main thread runs)
      display     the launcher loads the display driver: its first window, the splash
      extracting  the launcher first moves a drive's current directory: the first folder
      launching   the launcher asks for the setup program's process
      setup       the setup program's image is loaded"""
    milestones = {}
    launcher_thread = None
    for line in text.splitlines():
        match = _TRACE_LINE.match(line)
        if not match:
            continue
        seconds, thread, channel, function, rest = match.groups()
        seconds = float(seconds)
        if "start" not in milestones:
            if function == "CreateProcessInternalW" and rest.startswith("app") and launcher_name in rest:
                milestones["start"] = seconds
        elif "created" not in milestones:
            if channel == "loaddll" and launcher_name + '"' in rest:
                milestones["created"] = seconds
                launcher_thread = thread
        elif thread == launcher_thread and "display" not in milestones:
            if channel == "loaddll" and ".drv" in rest:
                milestones["display"] = seconds
        elif thread == launcher_thread and "extracting" not in milestones:
            if function == "SetEnvironmentVariableW" and rest.startswith('(L"='):
                milestones["extracting"] = seconds
        elif thread == launcher_thread and "launching" not in milestones:
            if function == "CreateProcessInternalW" and rest.startswith("app") and setup_name in rest:
                milestones["launching"] = seconds
        elif "launching" in milestones and "setup" not in milestones:
            if channel == "loaddll" and setup_name + '"' in rest:
                milestones["setup"] = seconds
    if len(milestones) != 1 + len(LAUNCH_PHASES):
        return None
    return milestones


# --- payload and output trees -------------------------------------------------------

def archive_files(payload, archive):
    """Names (backslashes) of the files below payload/archive, in byte order, the order
    in which the archive tool packs them."""
    root = os.path.join(payload, archive)
    names = []
    for folder, _, files in os.walk(root):
        for name in files:
            relative = os.path.relpath(os.path.join(folder, name), root)
            names.append(relative.replace(os.sep, "\\"))
    return sorted(names, key=lambda name: name.encode("utf-8"))


def unpacked_entries(payload):
    """(archive, name) of every entry the launcher writes, in the order it writes them."""
    return [(archive, name) for archive in UNPACKED for name in archive_files(payload, archive)]


def expected_tree(payload):
    """The tree the launcher leaves: relative name (lower case, backslashes) -> source
    file. A name in two archives holds the later one's contents."""
    tree = {}
    for archive, name in unpacked_entries(payload):
        tree[name.lower()] = os.path.join(payload, archive, *name.split("\\"))
    return tree


def compare_tree(folder, expected):
    """Differences between folder and the expected tree, as readable lines."""
    found = {}
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            found[os.path.relpath(path, folder).replace(os.sep, "\\").lower()] = path
    problems = ["missing: " + name for name in sorted(set(expected) - set(found))]
    problems += ["unexpected: " + name for name in sorted(set(found) - set(expected))]
    for name in sorted(set(expected) & set(found)):
        with open(expected[name], "rb") as want, open(found[name], "rb") as got:
            if want.read() != got.read():
                problems.append("different: " + name)
    return problems


def write_count(size, piece):
    """Write calls needed for size bytes in pieces of at most piece bytes."""
    return (size + piece - 1) // piece


# --- the peer installer -------------------------------------------------------------

def nsis_script(payload, output_exe, install_dir):
    """An installer script for the same files in the same order: zlib, not solid, no
    uninstaller, silent; the install folder can be overridden with /D= as usual."""
    lines = [
        "Unicode false",
        "SetCompressor zlib",
        'Name "Kalmora Photo"',
        'OutFile "%s"' % output_exe,
        'InstallDir "%s"' % install_dir,
        "RequestExecutionLevel user",
        "SilentInstall silent",
        "Section",
    ]
    current = None
    for archive, name in unpacked_entries(payload):
        folder = name.rpartition("\\")[0]
        if folder != current:
            lines.append('  SetOutPath "$INSTDIR%s"' % ("\\" + folder if folder else ""))
            current = folder
        lines.append('  File "%s"' % os.path.join(payload, archive, *name.split("\\")))
    lines.append("SectionEnd")
    return "\n".join(lines) + "\n"


# --- resources of a Windows executable ----------------------------------------------

def _unpack(fmt, data, offset):
    try:
        return struct.unpack_from(fmt, data, offset)
    except struct.error:
        raise BenchFailure("executable is cut short at offset %d" % offset)


def _resource_name(data, section_base, name_field):
    """A directory entry's name: the string it points to, or its number as text."""
    if name_field & 0x80000000:
        offset = section_base + (name_field & 0x7FFFFFFF)
        (length,) = _unpack("<H", data, offset)
        return data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
    return "#%d" % name_field


def _directory_entries(data, section_base, offset):
    named, numbered = _unpack("<HH", data, offset + 12)
    entries = []
    for i in range(named + numbered):
        name_field, target = _unpack("<II", data, offset + 16 + 8 * i)
        entries.append((_resource_name(data, section_base, name_field), target))
    return entries


def _pe_headers(data):
    """(offset of the optional header, its size, number of sections) of a PE file."""
    (pe_offset,) = _unpack("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise BenchFailure("not a Windows executable")
    sections, optional_size = _unpack("<H12xH", data, pe_offset + 6)
    return pe_offset + 24, optional_size, sections


def _section_name(exe_bytes, raw_name, optional):
    """A section's name; "/N" stands for a longer one at offset N of the COFF string
    table, which follows the symbol table."""
    name = raw_name.rstrip(b"\0").decode("latin-1")
    if not (name.startswith("/") and name[1:].isdigit()):
        return name
    symbols, symbol_count = _unpack("<II", exe_bytes, optional - 20 + 8)
    start = symbols + 18 * symbol_count + int(name[1:])
    end = exe_bytes.find(b"\0", start)
    if not symbols or end < 0:
        return name
    return exe_bytes[start:end].decode("latin-1")


def section_sizes(exe_bytes):
    """[(name, bytes in memory, bytes in the file)] of a PE file's sections."""
    optional, optional_size, sections = _pe_headers(exe_bytes)
    table = optional + optional_size
    found = []
    for i in range(sections):
        raw_name = _unpack("<8s", exe_bytes, table + 40 * i)[0]
        virtual_size, _, raw_size = _unpack("<III", exe_bytes, table + 40 * i + 8)
        found.append((_section_name(exe_bytes, raw_name, optional), virtual_size, raw_size))
    return found


def code_and_data_size(exe_bytes, in_file=False):
    """What a program's sections hold apart from its resources and debugging sections:
    code, data, tables and relocations, as they lie in memory (file alignment aside), or
    with in_file the bytes they take in the file (alignment included, uninitialised data
    left out)."""
    return sum(raw if in_file else size for name, size, raw in section_sizes(exe_bytes)
               if name != ".rsrc" and not name.startswith((".debug", ".gnu_debuglink")))


def archive_resources(exe_bytes):
    """{name: bytes} of the archive resources ("KMArc" type) of a 32-bit PE file."""
    data = exe_bytes
    optional, optional_size, sections = _pe_headers(data)
    # The resource table is the third data directory of a PE32 optional header.
    resource_rva, _ = _unpack("<II", data, optional + 96 + 2 * 8)
    if resource_rva == 0:
        return {}
    table = optional + optional_size
    section_list = []
    for i in range(sections):
        virtual_size, virtual_address, raw_size, raw_pointer = _unpack("<IIII", data, table + 40 * i + 8)
        section_list.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def file_offset(rva):
        for address, size, pointer in section_list:
            if address <= rva < address + size:
                return pointer + rva - address
        raise BenchFailure("resource address 0x%x lies in no section" % rva)

    base = file_offset(resource_rva)
    found = {}
    for type_name, type_target in _directory_entries(data, base, base):
        if type_name.upper() != ARCHIVE_RESOURCE_TYPE or not type_target & 0x80000000:
            continue
        for name, name_target in _directory_entries(data, base, base + (type_target & 0x7FFFFFFF)):
            for _, language_target in _directory_entries(data, base, base + (name_target & 0x7FFFFFFF)):
                data_rva, size = _unpack("<II", data, base + language_target)
                start = file_offset(data_rva)
                found[name.upper()] = bytes(data[start:start + size])
    return found
