#!/usr/bin/env python3
"""Builds the export table of WtString from its declaration list.

The executable exports the string class under the names that the Microsoft compiler
gives its declarations. We do not write those names by hand: the declarations in
WtString.exports are turned into a probe source that references every one of them,
the probe is compiled once for the MSVC target (clang) and once with our own compiler
(mingw g++), and the symbol each probe function references is read out of the two
object files. That gives, for every declaration, the decorated export name and the
symbol our compiler produced for it. Constructors and members that return the class
by value differ between the two calling conventions; they are exported through
generated adapters with the MSVC layout. FormatMessageA is exported through a
hand-written adapter that hands its failure to the caller as an MSVC exception.

Commands:
  probe OUT.cpp                          the probe source (compiles with both compilers)
  adapters OUT.cpp                       thiscall adapters for the entries that need them
  names OBJDUMP OBJ OUT.txt              referenced symbol per entry, one "index name" line each
  def MSVC.txt GCC.txt OUT.def [CLIENT.def [UNDEFS.rsp]]
                                         the module-definition file for the executable and,
                                         optionally, one that lists only the names (for an
                                         import library) and the linker options that pull
                                         every exported member out of the static library
  check OBJDUMP EXE NAMES.txt            compares an executable's export table with a fixed
                                         list of decorated names in ordinal order
  uses NM OBJ NAMES.txt                  checks that an object file calls every listed name
"""

import re
import subprocess
import sys
from pathlib import Path

MODULE_NAME = "ZIZeduz.exe"
TABLE = Path(__file__).with_name("WtString.exports")
# Exports whose failures have to reach the caller in its own compiler's form; their
# adapters are written by hand (FormatMessageExport.cpp).
HAND_WRITTEN_ADAPTERS = {"FormatMessageA": "km_export_format_message"}


class Decl:
    def __init__(self, index, kind, ret, name, params, qual):
        self.index = index
        self.kind = kind
        self.ret = ret
        self.name = name
        self.params = [p.strip() for p in params.split(",")] if params.strip() else []
        self.qual = qual

    @property
    def needs_adapter(self):
        return self.kind == "ctor" or (self.kind == "member" and self.ret == "WtString")

    @property
    def export_target(self):
        """Our symbol behind the export when it is not the member itself, else None."""
        if self.needs_adapter:
            return adapter_name(self.index)
        return HAND_WRITTEN_ADAPTERS.get(self.name)

    def fixed_params(self):
        return [p for p in self.params if p != "..."]

    def signature_params(self):
        return ", ".join(self.params)


def read_table():
    decls = []
    for line in TABLE.read_text().splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [f.strip() for f in line.split("|")]
        if len(fields) != 5:
            raise SystemExit(f"{TABLE}: malformed line: {line}")
        decls.append(Decl(len(decls) + 1, *fields))
    return decls


def probe_name(index):
    return f"km_probe_{index:03d}"


def adapter_name(index):
    return f"km_export_{index:03d}"


def typed_args(params):
    return ", ".join(f"{t} a{i}" for i, t in enumerate(params))


def arg_names(params):
    return ", ".join(f"a{i}" for i in range(len(params)))


def write_probe(out):
    lines = [
        "// Generated from WtString.exports: references every exported declaration once.",
        "#include \"string/WtString.h\"",
        "",
        "struct KmProbePlace {};",
        "inline void* operator new(decltype(sizeof 0), void* where, KmProbePlace) noexcept { return where; }",
        "inline void operator delete(void*, void*, KmProbePlace) noexcept {}",
        "void* volatile km_probe_sink;",
        "",
        "struct Probe : WtString {",
        "    using WtString::operator=;  // not hidden by Probe's own assignment",
    ]
    bodies = []
    for d in read_table():
        fn = probe_name(d.index)
        if d.kind == "ctor":
            params = ", ".join(["void* where"] + [f"{t} a{i}" for i, t in enumerate(d.params)])
            body = f"new (where, KmProbePlace()) WtString({arg_names(d.params)});"
        elif d.kind == "dtor":
            params = "WtString* s"
            body = "s->~WtString();"
        elif d.kind == "member":
            member = f"&Probe::{d.name}"
            body = (f"{d.ret} (WtString::*p)({d.signature_params()}) {d.qual} = {member}; "
                    "km_probe_sink = *reinterpret_cast<void**>(&p);")
            params = ""
        elif d.kind == "static":
            body = (f"{d.ret} (*p)({d.signature_params()}) = &Probe::{d.name}; "
                    "km_probe_sink = reinterpret_cast<void*>(p);")
            params = ""
        elif d.kind == "free":
            body = (f"{d.ret} (*p)({d.signature_params()}) = &{d.name}; "
                    "km_probe_sink = reinterpret_cast<void*>(p);")
            params = ""
        else:
            raise SystemExit(f"unknown kind {d.kind}")
        lines.append(f"    static void {fn}({params});")
        bodies.append(f"void Probe::{fn}({params}) {{ {body} }}")
    lines.append("};")
    lines.append("")
    lines.extend(bodies)
    Path(out).write_text("\n".join(lines) + "\n")


def write_adapters(out):
    lines = [
        "// Generated from WtString.exports: exports whose MSVC calling convention differs",
        "// from ours. MSVC constructors return `this` in EAX; MSVC members that return the",
        "// class by value take `this` in ECX and the result pointer on the stack, and",
        "// return that pointer. Each adapter has exactly that layout.",
        "#include \"string/WtString.h\"",
        "",
        "#include <new>",
        "",
        "#define KM_MSVC_THISCALL __attribute__((thiscall))",
        "",
    ]
    for d in read_table():
        if not d.needs_adapter:
            continue
        fn = adapter_name(d.index)
        if d.kind == "ctor":
            params = ", ".join(["WtString* self"] + [f"{t} a{i}" for i, t in enumerate(d.params)])
            body = f"return new (self) WtString({arg_names(d.params)});"
        else:
            params = ", ".join(["const WtString* self", "WtString* result"] +
                               [f"{t} a{i}" for i, t in enumerate(d.params)])
            body = f"return new (result) WtString(self->{d.name}({arg_names(d.params)}));"
        lines.append(f"extern \"C\" WtString* KM_MSVC_THISCALL {fn}({params});")
        lines.append(f"WtString* KM_MSVC_THISCALL {fn}({params}) {{ {body} }}")
    Path(out).write_text("\n".join(lines) + "\n")


LABEL = re.compile(r"^[0-9a-fA-F]+ <(.+)>:$")
RELOC = re.compile(r"^\s*[0-9a-fA-F]+:\s+(?:IMAGE_REL_I386_\w+|R_386_\w+|dir32|DISP32)\s+(\S+)")


def referenced_names(objdump, obj):
    """Maps probe index to the one WtString symbol its probe function references."""
    text = subprocess.run([objdump, "-dr", obj], check=True, capture_output=True,
                          text=True).stdout
    found = {}
    current = None
    for line in text.splitlines():
        m = LABEL.match(line.strip())
        if m:
            pm = re.search(r"km_probe_(\d{3})", m.group(1))
            current = int(pm.group(1)) if pm else None
            continue
        m = RELOC.match(line)
        if m and current is not None:
            sym = m.group(1)
            if ("WtString" in sym or "WtGetEmptyString" in sym) and "km_probe" not in sym:
                found.setdefault(current, set()).add(sym)
    names = {}
    for index, syms in found.items():
        if len(syms) != 1:
            raise SystemExit(f"{obj}: probe {index} references {sorted(syms)}")
        names[index] = syms.pop()
    return names


def write_names(objdump, obj, out):
    names = referenced_names(objdump, obj)
    expected = len(read_table())
    missing = [i for i in range(1, expected + 1) if i not in names]
    if missing:
        raise SystemExit(f"{obj}: no symbol found for entries {missing}")
    Path(out).write_text("".join(f"{i} {names[i]}\n" for i in sorted(names)))


def read_names(path):
    names = {}
    for line in Path(path).read_text().splitlines():
        index, name = line.split(" ", 1)
        names[int(index)] = name
    return names


def strip_underscore(sym):
    # i686 C-level symbols carry a leading underscore that the def file leaves out.
    return sym[1:] if sym.startswith("_") else sym


def write_def(msvc_path, gcc_path, out, client_out=None, undefs_out=None):
    decls = read_table()
    msvc = read_names(msvc_path)
    gcc = read_names(gcc_path)
    ordered = sorted(decls, key=lambda d: msvc[d.index].encode("latin-1"))
    if len({msvc[d.index] for d in decls}) != len(decls):
        raise SystemExit("two declarations share one decorated name")
    lines = [f'NAME "{MODULE_NAME}"', "EXPORTS"]
    client = [f"LIBRARY {MODULE_NAME}", "EXPORTS"]
    for ordinal, d in enumerate(ordered, start=1):
        target = d.export_target or strip_underscore(gcc[d.index])
        lines.append(f"  {msvc[d.index]}={target} @{ordinal}")
        client.append(f"  {msvc[d.index]} @{ordinal}")
    Path(out).write_text("\n".join(lines) + "\n")
    if client_out:
        Path(client_out).write_text("\n".join(client) + "\n")
    if undefs_out:
        # The members live in a static library; the linker only takes what is referenced.
        Path(undefs_out).write_text("".join(f"-Wl,-u,{gcc[d.index]}\n" for d in ordered
                                            if not d.export_target))


def export_table(objdump, exe):
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                          text=True).stdout
    module = None
    base = None
    entries = []
    in_names = False
    for line in text.splitlines():
        m = re.match(r"^Name\s+\S+\s+(\S+)$", line.strip())
        if m and module is None:
            module = m.group(1)
        m = re.match(r"^Ordinal Base\s+(\d+)", line.strip())
        if m:
            base = int(m.group(1))
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"^\s*\[\s*(\d+)\]\s+(\S+)$", line)
            if m:
                entries.append((int(m.group(1)), m.group(2)))
            elif line.strip() == "" and entries:
                in_names = False
    return module, base, entries, text


def read_fixed_names(path):
    """The decorated names of a fixed list, in its order; # starts a comment line."""
    return [line.strip() for line in Path(path).read_text().splitlines()
            if line.strip() and not line.lstrip().startswith("#")]


def check(objdump, exe, names_path):
    expected = read_fixed_names(names_path)
    if expected != sorted(expected, key=lambda n: n.encode("latin-1")):
        raise SystemExit(f"{names_path}: the names are not in ascending byte order")
    module, base, entries, text = export_table(objdump, exe)
    problems = []
    if module != MODULE_NAME:
        problems.append(f"module name {module!r}, expected {MODULE_NAME!r}")
    if base != 1:
        problems.append(f"ordinal base {base}, expected 1")
    m = re.search(r"Number in:\s*\n\s*Export Address Table\s+([0-9a-fA-F]+)\s*\n\s*\[Name Pointer/Ordinal\] Table\s+([0-9a-fA-F]+)", text)
    if m:
        functions, names = int(m.group(1), 16), int(m.group(2), 16)
        if functions != len(expected) or names != len(expected):
            problems.append(f"{functions} functions and {names} names, expected {len(expected)} of each")
    else:
        problems.append("no export directory counts found")
    got = [name for _, name in entries]
    if got != expected:
        extra = sorted(set(got) - set(expected))
        missing = sorted(set(expected) - set(got))
        problems.append(f"names differ: {len(extra)} unexpected {extra[:5]}, {len(missing)} missing {missing[:5]}")
    for (ordinal, name) in entries:
        # objdump prints the unbiased ordinal; ordinal k must carry line k of the list.
        ordinal += base or 0
        if not 1 <= ordinal <= len(expected) or expected[ordinal - 1] != name:
            problems.append(f"{name} has ordinal {ordinal}, expected "
                            f"{expected.index(name) + 1 if name in expected else 'none'}")
            break
    if problems:
        for p in problems:
            print(f"FAIL: {p}")
        return 1
    print(f"{exe}: module {module}, ordinal base {base}, {len(got)} functions, "
          f"{len(got)} names in ascending byte order, no others")
    return 0


def uses(nm, obj, names_path):
    text = subprocess.run([nm, "-u", obj], check=True, capture_output=True, text=True).stdout
    referenced = {line.split()[-1] for line in text.splitlines() if line.strip()}
    unused = [name for name in read_fixed_names(names_path) if name not in referenced]
    if unused:
        print(f"FAIL: {obj} calls {len(unused)} exports not at all: {unused}")
        return 1
    print(f"{obj} calls each of the {len(read_fixed_names(names_path))} exports")
    return 0


def main(argv):
    if len(argv) < 2:
        raise SystemExit(__doc__)
    cmd, args = argv[1], argv[2:]
    if cmd == "probe":
        write_probe(*args)
    elif cmd == "adapters":
        write_adapters(*args)
    elif cmd == "names":
        write_names(*args)
    elif cmd == "def":
        write_def(*args)
    elif cmd == "check":
        return check(*args)
    elif cmd == "uses":
        return uses(*args)
    else:
        raise SystemExit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
