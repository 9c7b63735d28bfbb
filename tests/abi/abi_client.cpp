// A client module built for the MSVC ABI (clang, no C runtime) that uses WtString only
// through the executable's export table. Each check is reported to the host program
// through a callback, so a mismatch in a calling convention shows up as a failed check
// or a crash inside one named group.
#include "string/WtString.h"

#include <stdarg.h>

typedef void (*KmReport)(const char* check, int ok);

namespace {

KmReport g_report;

bool SameText(const char* a, const char* b)
{
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

void Check(const char* name, bool ok) { g_report(name, ok ? 1 : 0); }

bool Is(const WtString& s, const char* text, int length)
{
    return SameText(s, text) && s.GetLength() == length;
}

// Reaches the protected header the way a module that knows the layout would.
struct Inspect : WtString {
    static WtStringData* Header(const WtString& s)
    {
        return static_cast<const Inspect&>(s).GetData();
    }
};

LONG Count(const WtString& s) { return Inspect::Header(s)->refCount; }

// An empty record and string of this module's own, as a second copy of the class
// would have: recognised by its count, not by its address.
struct ForeignEmptyRecord {
    LONG refCount;
    int dataLength;
    int allocLength;
    char terminator;
};
ForeignEmptyRecord g_foreignRecord = {-2, 0, 0, 0};
struct ForeignString {
    char* chars;
};
ForeignString g_foreignEmpty = {&g_foreignRecord.terminator};

void FormatThroughList(WtString& target, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    target.FormatV(format, args);
    va_end(args);
}

void ConstructionAndAssignment()
{
    WtString empty;
    WtString text("hello");
    WtString copy(text);
    WtString repeated('x', 3);
    WtString counted("abcdef", 3);
    WtString fromBytes(reinterpret_cast<const unsigned char*>("bytes"));
    Check("default constructor gives the empty string", empty.IsEmpty() && empty.GetAllocLength() == 0);
    Check("constructor from text", Is(text, "hello", 5));
    Check("copy constructor shares the buffer",
          static_cast<const char*>(copy) == static_cast<const char*>(text) && Count(text) == 2);
    Check("constructor from a repeated character", Is(repeated, "xxx", 3));
    Check("constructor from text and length", Is(counted, "abc", 3));
    Check("constructor from unsigned text", Is(fromBytes, "bytes", 5));

    WtString target;
    const WtString* self = &(target = text);
    Check("assignment of a string returns the target", self == &target && Is(target, "hello", 5));
    Check("assignment of a character", Is(target = 'q', "q", 1));
    Check("assignment of a text", Is(target = "assigned", "assigned", 8));
    Check("assignment of unsigned text",
          Is(target = reinterpret_cast<const unsigned char*>("u"), "u", 1));

    {
        WtString scoped(text);
        Check("three owners", Count(text) == 3);
    }
    Check("destructor gives up its reference", Count(text) == 2);
}

void Concatenation()
{
    WtString ab("ab");
    WtString cd("cd");
    Check("string + string", Is(ab + cd, "abcd", 4));
    Check("string + character", Is(ab + 'c', "abc", 3));
    Check("string + text", Is(ab + "xyz", "abxyz", 5));
    Check("character + string", Is('z' + ab, "zab", 3));
    Check("text + string", Is("pre" + ab, "preab", 5));
    WtString sum = ab + cd;
    Check("result of + owns a fresh exact buffer", Count(sum) == 1 && sum.GetAllocLength() == 4);

    WtString grow("a");
    grow += cd;
    grow += '!';
    grow += "?";
    Check("the three appends", Is(grow, "acd!?", 5));
    grow += grow;
    Check("append to itself", Is(grow, "acd!?acd!?", 10));
}

void Comparison()
{
    WtString abc("abc");
    WtString abd("abd");
    Check("Compare", abc.Compare("abc") == 0 && abc.Compare("abd") < 0 && abd.Compare("abc") > 0);
    Check("CompareNoCase", abc.CompareNoCase("ABC") == 0);
    Check("Collate", abc.Collate("abd") < 0);
    Check("CollateNoCase", abc.CollateNoCase("ABC") == 0);
    Check("== in three forms", abc == WtString("abc") && abc == "abc" && "abc" == abc);
    Check("!= in three forms", abc != abd && abc != "x" && "x" != abc);
    Check("< in three forms", abc < abd && abc < "abd" && "abb" < abc);
    Check("<= in three forms", abc <= abc && abc <= "abc" && "abc" <= abc);
    Check("> in three forms", abd > abc && abd > "abc" && "abe" > abd);
    Check(">= in three forms", abd >= abc && abd >= "abd" && "abd" >= abd);
    Check("element access", abc[1] == 'b' && abc.GetAt(2) == 'c');
}

void SearchAndExtraction()
{
    WtString s("abcb");
    Check("Find character", s.Find('b') == 1);
    Check("Find character from a start", s.Find('b', 2) == 3);
    Check("Find text", s.Find("cb") == 2);
    Check("Find text from a start", s.Find("b", 2) == 3 && s.Find("", 4) == 4);
    Check("ReverseFind", s.ReverseFind('b') == 3);
    Check("FindOneOf", s.FindOneOf("xc") == 2);

    WtString hello("hello");
    Check("Mid from an index", Is(hello.Mid(2), "llo", 3));
    Check("Mid with a count", Is(hello.Mid(-3, 2), "he", 2));
    Check("Left", Is(hello.Left(2), "he", 2));
    Check("Right in a buffer of its own", Is(hello.Right(99), "hello", 5) &&
          static_cast<const char*>(hello.Right(99)) != static_cast<const char*>(hello));
    Check("SpanIncluding", Is(hello.SpanIncluding("eh"), "he", 2));
    Check("SpanExcluding", Is(hello.SpanExcluding("l"), "he", 2));
}

void Editing()
{
    WtString s("  Mixed Case  ");
    s.TrimLeft();
    s.TrimRight();
    Check("trims", Is(s, "Mixed Case", 10));
    s.MakeUpper();
    Check("MakeUpper", Is(s, "MIXED CASE", 10));
    s.MakeLower();
    s.MakeReverse();
    Check("MakeLower and MakeReverse", Is(s, "esac dexim", 10));
    WtString r("abab");
    Check("Replace", r.Replace("ab", "xyz") == 2 && Is(r, "xyzxyz", 6));
    Check("ReplaceNoCase", r.ReplaceNoCase("XYZ", "q") == 2 && Is(r, "qq", 2));
    Check("Insert and Delete", r.Insert(1, "--") == 4 && r.Delete(0, 1) == 4 && Is(r, "--q", 3));
    Check("Remove", r.Remove('-') == 2 && Is(r, "q", 1));
}

void Formatting()
{
    WtString s;
    s.Format("%s=%d", "answer", 42);
    Check("variadic Format", Is(s, "answer=42", 9));
    FormatThroughList(s, "%05d|%c", 7, 'z');
    Check("FormatV with an argument list", Is(s, "00007|z", 7));
    s.FormatMessageA("%1 and %2", "a", "b");
    Check("variadic FormatMessageA", Is(s, "a and b", 7));

    WtString wide("ab");
    const unsigned short* units = wide;
    Check("16-bit conversion", units[0] == 'a' && units[1] == 'b' && units[2] == 0);
}

void Buffers()
{
    WtString s("abc");
    char* buffer = s.GetBuffer(10);
    buffer[3] = 'd';
    buffer[4] = 0;
    s.ReleaseBuffer(-1);
    Check("GetBuffer and ReleaseBuffer", Is(s, "abcd", 4) && s.GetAllocLength() == 10);
    s.FreeExtra();
    Check("FreeExtra", s.GetAllocLength() == 4);

    char* locked = s.LockBuffer();
    WtString copy(s);
    Check("a copy of a locked string has its own buffer",
          static_cast<const char*>(copy) != locked && Count(s) == -1 && Count(copy) == 1);
    s.UnlockBuffer();
    WtString shared(s);
    Check("UnlockBuffer lets the buffer be shared again", Count(s) == 2);
    Check("GetBufferSetLength", s.GetBufferSetLength(2) != nullptr && Is(s, "ab", 2));
}

void EmptyStrings()
{
    const WtString& exeEmpty = WtGetEmptyString();
    WtString made;
    Check("WtGetEmptyString is the executable's empty record",
          static_cast<const char*>(exeEmpty) == static_cast<const char*>(made) &&
          Count(exeEmpty) == -2);

    const WtString& foreign = *reinterpret_cast<const WtString*>(&g_foreignEmpty);
    WtString target;
    target = foreign;
    Check("assigning a foreign empty string changes nothing",
          static_cast<const char*>(target) == static_cast<const char*>(made));
    WtString copied(foreign);
    Check("copying a foreign empty string gives this module's empty record",
          static_cast<const char*>(copied) == static_cast<const char*>(made));
    Check("foreign and own empty strings compare equal", foreign == made && made == foreign);
    WtString text("x");
    text = foreign;
    Check("a foreign empty string empties a text", text.IsEmpty() && g_foreignRecord.refCount == -2);
}

}  // namespace

extern "C" __declspec(dllexport) void km_abi_client_run(KmReport report)
{
    g_report = report;
    ConstructionAndAssignment();
    Concatenation();
    Comparison();
    SearchAndExtraction();
    Editing();
    Formatting();
    Buffers();
    EmptyStrings();
}
