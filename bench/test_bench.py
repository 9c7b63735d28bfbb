"""Checks of the benchmark tooling; bench/run.sh runs them before it measures anything.

    python3 -m unittest discover -s bench -p 'test_*.py'
"""

import os
import struct
import tempfile
import unittest
import zlib

import bench
import benchlib
import payload
from benchlib import BenchFailure


def write_file(root, relative, data):
    path = os.path.join(root, *relative.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


class StatisticsTest(unittest.TestCase):
    def test_median_and_spread(self):
        cases = [
            ([5.0], 5.0, 0.0),
            ([3.0, 1.0, 2.0], 2.0, 100.0),
            ([4.0, 1.0, 3.0, 2.0], 2.5, 120.0),
            ([10.0, 10.0, 30.0], 10.0, 200.0),
        ]
        for values, middle, spread in cases:
            with self.subTest(values=values):
                summary = benchlib.Summary(values)
                self.assertEqual(summary.median, middle)
                self.assertAlmostEqual(summary.spread_percent, spread)

    def test_median_of_nothing_is_refused(self):
        with self.assertRaises(ValueError):
            benchlib.median([])

    def test_ratios_pair_the_samples_of_one_round(self):
        # Round by round 1.1, 1.0, 1.2; sorted first, the pairs would give 1.0 each.
        summary = benchlib.paired_ratios([220.0, 100.0, 360.0], [200.0, 100.0, 300.0])
        self.assertAlmostEqual(summary.median, 1.1)
        self.assertAlmostEqual(summary.low, 1.0)
        self.assertAlmostEqual(summary.high, 1.2)
        with self.assertRaises(ValueError):
            benchlib.paired_ratios([1.0], [1.0, 2.0])


class ReportParsingTest(unittest.TestCase):
    def test_start_line_times_become_unix_milliseconds(self):
        started = benchlib.FILETIME_AT_1970 + 1000 * benchlib.FILETIME_STEPS_PER_MS
        line = "started %d ended %d exit 3 peak_working_set 20443136 peak_private 9437184\n" % (started, started + 2500 * 10000)
        parsed = benchlib.parse_start_line("wine noise\n" + line)
        self.assertEqual(parsed["started_ms"], 1000.0)
        self.assertEqual(parsed["ended_ms"], 3500.0)
        self.assertEqual(parsed["exit"], 3)
        self.assertEqual(parsed["peak_working_set"], 20443136)
        self.assertEqual(parsed["peak_private"], 9437184)

    def test_bad_report_lines_are_refused(self):
        for output in ["", "usage: kmbench-start COMMANDLINE...", "started 1 ended", "started 1\nstarted 2"]:
            with self.subTest(output=output), self.assertRaises(BenchFailure):
                benchlib.parse_start_line(output)
        with self.assertRaises(BenchFailure):
            benchlib.parse_run_lines("kmbench-limit: cannot open Z:\\x\n")

    def test_run_lines(self):
        output = ("run 1 total_ms 150.5 inflate_ms 80 folders_ms 2 files_ms 45 files 75 folders 7 bytes 21000000\r\n"
                  "run 2 total_ms 140 inflate_ms 0 folders_ms 0 files_ms 0 files 75 folders 7 bytes 21000000\n")
        runs = benchlib.parse_run_lines(output)
        self.assertEqual([r["total_ms"] for r in runs], [150.5, 140.0])
        self.assertEqual(runs[0]["bytes"], 21000000)

    def test_standin_report_keeps_equals_signs_in_values(self):
        text = ("CommandLine=KMSetup SetupProgram=ZIZeduz Wnd=Normal \r\nStartUnixMs=1733660000123\r\n"
                "CurrentDirectory=C:\\users\\root\\Temp\\KMGSetup3\r\n")
        report = benchlib.parse_standin_report(text)
        self.assertEqual(report["CommandLine"], "KMSetup SetupProgram=ZIZeduz Wnd=Normal ")
        self.assertEqual(report["StartUnixMs"], "1733660000123")
        self.assertEqual(report["CurrentDirectory"], "C:\\users\\root\\Temp\\KMGSetup3")


TRACE = r"""0010.000:010c:trace:process:CreateProcessInternalW app (null) cmdline L"Z:\\b\\ZIZeduz.exe"
0010.100:0114:trace:loaddll:build_module Loaded L"Z:\\b\\ZIZeduz.exe" at 00400000: native
0010.150:0114:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\user32.dll" at 68880000: builtin
0010.200:0120:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\winex11.drv" at 02C30000: builtin
0010.300:0120:trace:process:SetEnvironmentVariableW (L"=C:" L"C:\\other")
0010.400:0114:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\winex11.drv" at 02C30000: builtin
0010.900:0114:trace:process:SetEnvironmentVariableW (L"WINEUNIXCP" L"65001")
0011.000:0114:trace:process:SetEnvironmentVariableW (L"=Z:" L"Z:\\b")
0011.500:010c:trace:process:NtQueryInformationProcess (0x40,0x00000003,0x66fd54,0x0000002c,(nil))
0013.000:0114:trace:process:CreateProcessInternalW app (null) cmdline L"\"Zephrun.exe\" KMSetup"
0013.080:011c:trace:loaddll:build_module Loaded L"Z:\\b\\Zephrun.exe" at 00400000: native
"""


class LaunchTraceTest(unittest.TestCase):
    def test_milestones_come_from_the_launchers_own_thread(self):
        self.assertEqual(benchlib.parse_launch_trace(TRACE, "ZIZeduz.exe", "Zephrun.exe"), {
            "start": 10.0, "created": 10.1, "display": 10.4, "extracting": 11.0, "launching": 13.0, "setup": 13.08,
        })

    def test_a_missing_milestone_gives_no_timeline(self):
        without_setup = "\n".join(line for line in TRACE.splitlines() if "Zephrun.exe\" at" not in line)
        self.assertIsNone(benchlib.parse_launch_trace(without_setup, "ZIZeduz.exe", "Zephrun.exe"))
        self.assertIsNone(benchlib.parse_launch_trace("", "ZIZeduz.exe", "Zephrun.exe"))


class PayloadTreeTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(self.root))
        write_file(self.root, "BASE/Data/b.dat", b"base b")
        write_file(self.root, "BASE/DataZ.dat", b"sorts before the folder")
        write_file(self.root, "BASE/Data/a.dat", b"base a")
        write_file(self.root, "SETUPPHOTO/Photo.inf", b"first")
        write_file(self.root, "PHOTOEDITION/PHOTO.INF", b"second")
        write_file(self.root, "APPBASE/App.exe", b"never unpacked")

    def test_entries_come_in_archive_order_then_byte_order(self):
        # "Z" sorts before the backslash, so the file comes before the folder's files.
        self.assertEqual(benchlib.unpacked_entries(self.root), [
            ("BASE", "DataZ.dat"), ("BASE", "Data\\a.dat"), ("BASE", "Data\\b.dat"),
            ("SETUPPHOTO", "Photo.inf"), ("PHOTOEDITION", "PHOTO.INF"),
        ])

    def test_later_archive_wins_a_shared_name(self):
        tree = benchlib.expected_tree(self.root)
        self.assertEqual(sorted(tree), ["data\\a.dat", "data\\b.dat", "dataz.dat", "photo.inf"])
        self.assertTrue(tree["photo.inf"].endswith(os.path.join("PHOTOEDITION", "PHOTO.INF")))

    def test_compare_tree_finds_every_kind_of_difference(self):
        expected = benchlib.expected_tree(self.root)
        out = os.path.join(self.root, "out")
        write_file(out, "Data/a.dat", b"base a")
        write_file(out, "Data/b.dat", b"base B")
        write_file(out, "photo.inf", b"second")
        write_file(out, "stray.tmp", b"")
        self.assertEqual(benchlib.compare_tree(out, expected),
                         ["missing: dataz.dat", "unexpected: stray.tmp", "different: data\\b.dat"])
        os.remove(os.path.join(out, "stray.tmp"))
        write_file(out, "Data/b.dat", b"base b")
        write_file(out, "DataZ.dat", b"sorts before the folder")
        self.assertEqual(benchlib.compare_tree(out, expected), [])

    def test_peer_script_installs_the_same_files_in_the_same_order(self):
        script = benchlib.nsis_script(self.root, "/tmp/peer.exe", "C:\\bench\\peer").splitlines()
        self.assertIn("SetCompressor zlib", script)
        self.assertIn("SilentInstall silent", script)
        body = [line.strip() for line in script[script.index("Section") + 1:script.index("SectionEnd")]]
        self.assertEqual(body, [
            'SetOutPath "$INSTDIR"',
            'File "%s"' % os.path.join(self.root, "BASE", "DataZ.dat"),
            'SetOutPath "$INSTDIR\\Data"',
            'File "%s"' % os.path.join(self.root, "BASE", "Data", "a.dat"),
            'File "%s"' % os.path.join(self.root, "BASE", "Data", "b.dat"),
            'SetOutPath "$INSTDIR"',
            'File "%s"' % os.path.join(self.root, "SETUPPHOTO", "Photo.inf"),
            'File "%s"' % os.path.join(self.root, "PHOTOEDITION", "PHOTO.INF"),
        ])

    def test_write_count(self):
        for size, piece, count in [(0, 100, 0), (1, 100, 1), (250, 100, 3), (65536, 65536, 1), (65537, 65536, 2)]:
            with self.subTest(size=size, piece=piece):
                self.assertEqual(benchlib.write_count(size, piece), count)


def resource_directory(entries, named):
    """A resource directory table: entries are (name field, target field)."""
    header = struct.pack("<IIHHHH", 0, 0, 0, 0, named, len(entries) - named)
    return header + b"".join(struct.pack("<II", name, target) for name, target in entries)


def build_pe(resources, section_rva=0x2000, raw_pointer=0x400):
    """A minimal PE32 file whose only section holds a resource tree with the given
    (type name or number, resource name, bytes) leaves, one language each."""
    SUBDIR = 0x80000000
    # Layout inside the section: directories first, then strings, data entries, data.
    types = {}
    for type_key, name, data in resources:
        types.setdefault(type_key, []).append((name, data))
    directories = []  # filled in a second pass once offsets are known

    def dir_size(count):
        return 16 + 8 * count

    offset = dir_size(len(types))
    type_dirs = {}
    for type_key, items in types.items():
        type_dirs[type_key] = offset
        offset += dir_size(len(items))
    language_dirs = {}
    for type_key, items in types.items():
        for name, _ in items:
            language_dirs[(type_key, name)] = offset
            offset += dir_size(1)
    strings = {}
    string_blob = b""
    for key in list(types) + [name for items in types.values() for name, _ in items]:
        if isinstance(key, str) and key not in strings:
            strings[key] = offset + len(string_blob)
            encoded = key.encode("utf-16-le")
            string_blob += struct.pack("<H", len(key)) + encoded
    offset += len(string_blob)
    offset = (offset + 3) & ~3
    data_entries = {}
    for type_key, items in types.items():
        for name, _ in items:
            data_entries[(type_key, name)] = offset
            offset += 16
    data_offsets = {}
    data_blob = b""
    for type_key, items in types.items():
        for name, data in items:
            data_offsets[(type_key, name)] = offset + len(data_blob)
            data_blob += data

    def name_field(key):
        return (SUBDIR | strings[key]) if isinstance(key, str) else key

    section = bytearray()
    named_types = sum(isinstance(k, str) for k in types)
    section += resource_directory([(name_field(k), SUBDIR | type_dirs[k]) for k in types], named_types)
    for type_key, items in types.items():
        section += resource_directory([(name_field(n), SUBDIR | language_dirs[(type_key, n)]) for n, _ in items],
                                      sum(isinstance(n, str) for n, _ in items))
    for type_key, items in types.items():
        for name, _ in items:
            section += resource_directory([(1031, data_entries[(type_key, name)])], 0)
    section += string_blob
    section += b"\0" * ((-len(section)) % 4)
    for type_key, items in types.items():
        for name, data in items:
            section += struct.pack("<IIII", section_rva + data_offsets[(type_key, name)], len(data), 0, 0)
    section += data_blob

    pe_offset = 0x40
    optional_size = 224
    image = bytearray(raw_pointer)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, pe_offset)
    image[pe_offset:pe_offset + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, pe_offset + 4, 0x14C, 1, 0, 0, 0, optional_size, 0x102)
    optional = pe_offset + 24
    struct.pack_into("<H", image, optional, 0x10B)
    struct.pack_into("<II", image, optional + 96 + 16, section_rva, len(section))
    table = optional + optional_size
    image[table:table + 8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", image, table + 8, len(section), section_rva, len(section), raw_pointer)
    return bytes(image) + bytes(section)


class SetupLayoutTest(unittest.TestCase):
    def read(self, text):
        path = os.path.join(tempfile.mkdtemp(), "SetupLayout.h")
        with open(path, "w") as f:
            f.write(text)
        return benchlib.read_setup_layout(path)

    def test_the_header_gives_eight_archives_six_unpacked(self):
        layout = benchlib.read_setup_layout()
        self.assertEqual(len(layout["archives"]), 8)
        self.assertEqual(layout["unpacked"], 6)
        self.assertIn(layout["program_archive"], benchlib.UNPACKED)
        self.assertEqual(benchlib.UNPACKED + benchlib.KEPT, layout["archives"])

    def test_a_header_that_does_not_state_the_layout_is_refused(self):
        with open(benchlib.LAYOUT_HEADER) as f:
            header = f.read()
        # A comment that mentions a constant is not its definition.
        self.assertEqual(self.read("// kUnpackedArchiveCount = 3;\n" + header)["unpacked"], 6)
        with self.assertRaisesRegex(ValueError, "kWaitingProgram"):
            self.read(header.replace("kWaitingProgram", "kOther"))
        with self.assertRaisesRegex(ValueError, "kSetupArchiveCount names"):
            self.read(header.replace('"KMIMAGE", ', ""))


class ArchiveResourcesTest(unittest.TestCase):
    def test_finds_only_the_archive_resources_with_their_bytes(self):
        exe = build_pe([
            ("KMARC", "BASE", b"\x04\0\0\0\0\0\0\0"),
            (2, 134, b"BM not an archive"),
            ("KMARC", "SETUPBASE", b"setupbase bytes"),
        ])
        self.assertEqual(benchlib.archive_resources(exe),
                         {"BASE": b"\x04\0\0\0\0\0\0\0", "SETUPBASE": b"setupbase bytes"})

    def test_executable_without_archives(self):
        self.assertEqual(benchlib.archive_resources(build_pe([(2, 134, b"BM")])), {})

    def test_code_and_data_leave_out_the_resources(self):
        exe = build_pe([("KMARC", "BASE", b"x" * 5000)])
        self.assertEqual([name for name, _, _ in benchlib.section_sizes(exe)], [".rsrc"])
        self.assertEqual(benchlib.code_and_data_size(exe), 0)
        # A second section, of code, counts with its size in memory.
        optional, optional_size, _ = benchlib._pe_headers(exe)
        image = bytearray(exe)
        pe_offset = optional - 24
        struct.pack_into("<H", image, pe_offset + 6, 2)
        table = optional + optional_size
        image[table + 40:table + 48] = b".text\0\0\0"
        struct.pack_into("<IIII", image, table + 48, 0x1234, 0x9000, 0x1400, 0x400)
        self.assertEqual(benchlib.code_and_data_size(bytes(image)), 0x1234)
        self.assertEqual(benchlib.code_and_data_size(bytes(image), in_file=True), 0x1400)

    def test_damaged_files_are_refused(self):
        exe = build_pe([("KMARC", "BASE", b"abc")])
        for damaged in [b"not an executable at all, just text" * 3, b"MZ", exe[:0x300]]:
            with self.subTest(length=len(damaged)), self.assertRaises(BenchFailure):
                benchlib.archive_resources(damaged)


class DriverTest(unittest.TestCase):
    def test_rounds_vary_who_runs_before_whom(self):
        names = ["launch", "extract", "peer", "floor", "limit"]
        orders = [bench.round_order(names, r) for r in range(8)]
        for order in orders:
            self.assertEqual(sorted(order), sorted(names))
        for name in names:
            before = {order[order.index(name) - 1] if order.index(name) else None for order in orders}
            self.assertGreater(len(before), 1, name)
        self.assertEqual(bench.round_order(names, 3), orders[3])

    def test_paths_between_host_and_wine(self):
        wine = bench.Wine("/work/build/bench-win32")
        cases = [
            ("C:\\bench\\peer", "/work/build/bench-win32/wineprefix/drive_c/bench/peer"),
            ("c:\\users\\root\\Temp\\", "/work/build/bench-win32/wineprefix/drive_c/users/root/Temp"),
            ("C:\\", "/work/build/bench-win32/wineprefix/drive_c"),
        ]
        for windows, host in cases:
            with self.subTest(windows=windows):
                self.assertEqual(wine.host_path(windows), host)
        with self.assertRaises(BenchFailure):
            wine.host_path("Z:\\tmp\\report.txt")
        with self.assertRaises(BenchFailure):
            wine.host_path("M:\\ours")
        wine.drives["M:"] = "/dev/shm/kmbench-x"
        self.assertEqual(wine.host_path("m:\\ours\\full"), "/dev/shm/kmbench-x/ours/full")
        self.assertEqual(bench.Wine.windows_path("/tmp/a b/c.kmarc"), "Z:\\tmp\\a b\\c.kmarc")

    def test_a_path_takes_the_spelling_of_what_exists(self):
        tree = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(tree))
        drive_c = os.path.join(tree, "wineprefix", "drive_c")
        os.makedirs(os.path.join(drive_c, "windows", "temp", "KMGSetup0"))
        wine = bench.Wine(tree)
        self.assertEqual(wine.host_path("C:\\windows\\Temp\\KMGSetup0"),
                         os.path.join(drive_c, "windows", "temp", "KMGSetup0"))
        self.assertEqual(wine.host_path("C:\\WINDOWS\\Temp\\New\\x.bin"),
                         os.path.join(drive_c, "windows", "temp", "New", "x.bin"))

    def test_the_archives_unpacked_in_process_are_the_launchers_own(self):
        root = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        names = benchlib.UNPACKED + benchlib.KEPT
        launcher = write_file(root, "ZIZeduz.exe", build_pe([("KMARC", name, name.encode()) for name in names]))
        unpacked, kept, size = bench.write_archives(launcher, os.path.join(root, "archives"))
        self.assertEqual([os.path.basename(p) for p in unpacked], [n.lower() + ".kmarc" for n in benchlib.UNPACKED])
        self.assertEqual(len(kept), 2)
        with open(unpacked[1], "rb") as f:
            self.assertEqual(f.read(), benchlib.UNPACKED[1].encode())
        self.assertEqual(size, sum(len(n) for n in names))
        # A launcher without one of them would be measured against other streams.
        launcher = write_file(root, "ZIZeduz.exe", build_pe([("KMARC", name, b"x") for name in names[1:]]))
        with self.assertRaisesRegex(BenchFailure, names[0]):
            bench.write_archives(launcher, os.path.join(root, "archives"))


class PayloadGeneratorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp()
        cls.programs = os.path.join(cls.root, "programs")
        write_file(cls.programs, payload.SETUP_PROGRAM, b"MZ setup program")
        write_file(cls.programs, payload.WAITING_PROGRAM, b"MZ waiting program")
        cls.first = os.path.join(cls.root, "first")
        cls.written = payload.write_payload(cls.first, cls.programs)

    @classmethod
    def tearDownClass(cls):
        __import__("shutil").rmtree(cls.root)

    def test_shape_of_the_unpacked_archives(self):
        entries = benchlib.unpacked_entries(self.first)
        counts = {archive: sum(1 for a, _ in entries if a == archive) for archive in benchlib.UNPACKED}
        self.assertEqual(counts, {"BASE": 5, "SETUPBASE": 43, "SETUPPHOTO": 12, "PHOTOEDITION": 13,
                                  "KMIMAGE": 1, "KMVERSION": 1})
        top_level = [name.lower() for _, name in entries if "\\" not in name]
        shared = {name for name in top_level if top_level.count(name) > 1}
        self.assertEqual(shared, {"photo.inf"})
        self.assertIn((("SETUPBASE", payload.SETUP_PROGRAM)), entries)
        self.assertIn((("SETUPBASE", payload.WAITING_PROGRAM)), entries)
        for _, name in entries:
            with self.subTest(name=name):
                self.assertLessEqual(len(name), 52)
                self.assertLessEqual(name.count("\\"), 2)
                self.assertTrue(name.isascii())

    def test_sizes_and_compressibility(self):
        sizes = [size for archive, _, size in self.written if archive in benchlib.UNPACKED]
        self.assertAlmostEqual(sum(sizes) / 1e6, 20.2, delta=1.0)
        self.assertEqual(max(sizes), 8500 * 1000)
        packed = 0
        for archive, name in benchlib.unpacked_entries(self.first):
            with open(os.path.join(self.first, archive, *name.split("\\")), "rb") as f:
                packed += len(zlib.compress(f.read()))
        self.assertTrue(0.55 <= packed / sum(sizes) <= 0.68, packed / sum(sizes))

    def test_kept_archives(self):
        kept = {archive: sum(1 for a, _, _ in self.written if a == archive) for archive in benchlib.KEPT}
        self.assertEqual(kept, {"APPBASE": 236, "PHOTOUNINST": 2})

    def test_many_files_payload(self):
        folder = os.path.join(self.root, "many")
        count, size = payload.write_many_files(folder)
        entries = benchlib.unpacked_entries(folder)
        self.assertEqual((count, len(entries)), (10000, 10000))
        self.assertEqual(len({name.rpartition("\\")[0] for _, name in entries}), 200)
        self.assertEqual(size, sum(os.path.getsize(path) for path in benchlib.expected_tree(folder).values()))
        self.assertTrue(payload.SCALE_SMALL_SIZES[0] * count <= size <= payload.SCALE_SMALL_SIZES[1] * count)

    def test_same_seed_same_bytes_and_times(self):
        second = os.path.join(self.root, "second")
        payload.write_payload(second, self.programs)
        for archive, name, _ in self.written:
            with self.subTest(name=name):
                a = os.path.join(self.first, archive, *name.split("\\"))
                b = os.path.join(second, archive, *name.split("\\"))
                with open(a, "rb") as fa, open(b, "rb") as fb:
                    self.assertEqual(fa.read(), fb.read())
                self.assertEqual(os.stat(a).st_mtime, os.stat(b).st_mtime)


if __name__ == "__main__":
    unittest.main()
