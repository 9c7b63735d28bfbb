// A client module built for the MSVC ABI (clang, no C runtime of its own; the C++
// frame handler comes from the system's msvcrt.dll) that uses WtString only through the
// executable's export table. It calls every one of the exports (the build checks that
// its object file references all of them). Each check is reported to the host program
// through a callback, so a mismatch in a calling convention shows up as a failed check
// or a crash inside one named group.
#include "string/WtString.h"

#include <stdarg.h>

// The type descriptors of caught types point at type_info's vftable, which the C++
// library would define; the frame handler matches types by name and never calls it.
extern "C" const void* km_type_info_vftable[1] = {nullptr};
#pragma comment(linker, "/alternatename:??_7type_info@@6B@=_km_type_info_vftable")

// The constructors, the members that return a string by value and the free
// operator+, declared the way the convention passes them, so that the pointer each
// returns in EAX (the object, or the caller's result slot) can be checked and used.
extern "C" {
WtString* __thiscall KmConstructCopy(void* self, const WtString& source) __asm__("??0WtString@@QAE@ABV0@@Z");
WtString* __thiscall KmConstructRepeated(void* self, char ch, int repeat) __asm__("??0WtString@@QAE@DH@Z");
WtString* __thiscall KmConstructText(void* self, const char* text) __asm__("??0WtString@@QAE@PBD@Z");
WtString* __thiscall KmConstructCounted(void* self, const char* bytes, int length) __asm__("??0WtString@@QAE@PBDH@Z");
WtString* __thiscall KmConstructUnsigned(void* self, const unsigned char* text) __asm__("??0WtString@@QAE@PBE@Z");
WtString* __thiscall KmConstructDefault(void* self) __asm__("??0WtString@@QAE@XZ");
WtString* __thiscall KmLeft(const WtString* self, void* result, int count) __asm__("?Left@WtString@@QBE?AV1@H@Z");
WtString* __thiscall KmMid(const WtString* self, void* result, int first) __asm__("?Mid@WtString@@QBE?AV1@H@Z");
WtString* __thiscall KmMidCount(const WtString* self, void* result, int first, int count) __asm__("?Mid@WtString@@QBE?AV1@HH@Z");
WtString* __thiscall KmRight(const WtString* self, void* result, int count) __asm__("?Right@WtString@@QBE?AV1@H@Z");
WtString* __thiscall KmSpanExcluding(const WtString* self, void* result, const char* set) __asm__("?SpanExcluding@WtString@@QBE?AV1@PBD@Z");
WtString* __thiscall KmSpanIncluding(const WtString* self, void* result, const char* set) __asm__("?SpanIncluding@WtString@@QBE?AV1@PBD@Z");
WtString* __cdecl KmPlusStrings(void* result, const WtString& left, const WtString& right) __asm__("??H@YA?AVWtString@@ABV0@0@Z");
WtString* __cdecl KmPlusChar(void* result, const WtString& left, char right) __asm__("??H@YA?AVWtString@@ABV0@D@Z");
WtString* __cdecl KmPlusText(void* result, const WtString& left, const char* right) __asm__("??H@YA?AVWtString@@ABV0@PBD@Z");
WtString* __cdecl KmCharPlus(void* result, char left, const WtString& right) __asm__("??H@YA?AVWtString@@DABV0@@Z");
WtString* __cdecl KmTextPlus(void* result, const char* left, const WtString& right) __asm__("??H@YA?AVWtString@@PBDABV0@@Z");
}

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

// Room for one string that a constructor or a by-value member fills in, marked so that
// a slot left unwritten shows.
struct Slot {
    Slot() { chars = nullptr; }
    void* Address() { return &chars; }
    char* chars;
};

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

// Each constructor returns the object it built, each by-value member and operator+ the
// caller's result slot; the returned pointer is then used as the string.
void ReturnedPointers()
{
    const WtString source("source");
    struct Made {
        const char* name;
        Slot* slot;
        WtString* returned;
        const char* text;
        int length;
    };
    Slot slots[17];
    const Made made[] = {
        {"copy constructor", &slots[0], KmConstructCopy(slots[0].Address(), source), "source", 6},
        {"repeat constructor", &slots[1], KmConstructRepeated(slots[1].Address(), 'r', 2), "rr", 2},
        {"text constructor", &slots[2], KmConstructText(slots[2].Address(), "text"), "text", 4},
        {"counted constructor", &slots[3], KmConstructCounted(slots[3].Address(), "count", 3), "cou", 3},
        {"unsigned constructor", &slots[4],
         KmConstructUnsigned(slots[4].Address(), reinterpret_cast<const unsigned char*>("uns")), "uns", 3},
        {"default constructor", &slots[5], KmConstructDefault(slots[5].Address()), "", 0},
        {"Left", &slots[6], KmLeft(&source, slots[6].Address(), 3), "sou", 3},
        {"Mid", &slots[7], KmMid(&source, slots[7].Address(), 4), "ce", 2},
        {"Mid with a count", &slots[8], KmMidCount(&source, slots[8].Address(), 1, 2), "ou", 2},
        {"Right", &slots[9], KmRight(&source, slots[9].Address(), 4), "urce", 4},
        {"SpanExcluding", &slots[10], KmSpanExcluding(&source, slots[10].Address(), "r"), "sou", 3},
        {"SpanIncluding", &slots[11], KmSpanIncluding(&source, slots[11].Address(), "os"), "so", 2},
        {"string + string", &slots[12], KmPlusStrings(slots[12].Address(), source, source), "sourcesource", 12},
        {"string + character", &slots[13], KmPlusChar(slots[13].Address(), source, '!'), "source!", 7},
        {"string + text", &slots[14], KmPlusText(slots[14].Address(), source, "s"), "sources", 7},
        {"character + string", &slots[15], KmCharPlus(slots[15].Address(), '>', source), ">source", 7},
        {"text + string", &slots[16], KmTextPlus(slots[16].Address(), "re", source), "resource", 8},
    };
    for (const Made& m : made) {
        const bool same = m.returned == m.slot->Address();
        g_report(m.name, same && Is(*m.returned, m.text, m.length) ? 1 : 0);
        if (same)
            m.returned->~WtString();
    }
    Check("the source is shared only by the copy, and that copy is gone", Count(source) == 1);
}

// The protected members, through a class derived here.
struct Derived : WtString {
    Derived() {}
    explicit Derived(const char* text) : WtString(text) {}
    WtStringData* Header() const { return GetData(); }

    static void Run()
    {
        Derived fresh;
        fresh.AllocBuffer(3);
        Check("AllocBuffer gives an exact owned buffer",
              fresh.Header()->allocLength == 3 && fresh.Header()->dataLength == 3 &&
              fresh.Header()->refCount == 1 && fresh.chars[3] == 0);
        fresh.chars[0] = 'a';
        fresh.chars[1] = 'b';
        fresh.chars[2] = 'c';
        fresh.AllocBeforeWrite(2);
        Check("AllocBeforeWrite keeps a large enough owned buffer",
              SameText(fresh, "abc") && fresh.Header()->allocLength == 3);
        fresh.AssignCopy(2, "xy");
        Check("AssignCopy", Is(fresh, "xy", 2) && fresh.GetAllocLength() == 3);
        fresh.ConcatInPlace(1, "z");
        Check("ConcatInPlace within the buffer", Is(fresh, "xyz", 3) && fresh.GetAllocLength() == 3);
        fresh.ConcatInPlace(2, "!!");
        Check("ConcatInPlace beyond it", Is(fresh, "xyz!!", 5) && fresh.GetAllocLength() == 5);

        Derived target;
        fresh.AllocCopy(target, 2, 1, 0);
        Check("AllocCopy", Is(target, "yz", 2) && target.Header()->refCount == 1);

        Derived joined;
        joined.ConcatCopy(2, "ab", 3, "cde");
        Check("ConcatCopy", Is(joined, "abcde", 5) && joined.GetAllocLength() == 5);

        Derived shared(joined);
        shared.CopyBeforeWrite();
        Check("CopyBeforeWrite detaches", Count(joined) == 1 && Count(shared) == 1 &&
              static_cast<const char*>(shared) != static_cast<const char*>(joined) &&
              Is(shared, "abcde", 5));
        shared.AllocBeforeWrite(9);
        Check("AllocBeforeWrite makes room", shared.GetAllocLength() == 9);

        joined.Release();
        Check("Release leaves the empty record", joined.IsEmpty() && Count(joined) == -2);
        joined.Init();
        Check("Init", static_cast<const char*>(joined) == static_cast<const char*>(WtGetEmptyString()));

        // A second owner given up through the static member instead of its destructor.
        Slot slot;
        WtString* second = KmConstructCopy(slot.Address(), target);
        Check("two owners", Count(target) == 2);
        WtString::Release(Inspect::Header(*second));
        Check("static Release gives up one reference", Count(target) == 1);

        Check("SafeStrlen", SafeStrlen("four") == 4 && SafeStrlen(nullptr) == 0);
    }
};

void MoreEditing()
{
    WtString s("a-b-c");
    WtString copy(s);
    Check("Replace of a character", s.Replace('-', '+') == 2 && Is(s, "a+b+c", 5) && Is(copy, "a-b-c", 5));
    s.SetAt(0, 'A');
    Check("SetAt", Is(s, "A+b+c", 5));
    Check("Insert of a character", s.Insert(1, ':') == 6 && Is(s, "A:+b+c", 6));
    WtString t("xxaxx");
    t.TrimLeft('x');
    t.TrimRight('x');
    Check("trims of a character", Is(t, "a", 1));
    WtString u("xyaxy");
    u.TrimLeft("yx");
    u.TrimRight("yx");
    Check("trims of a set", Is(u, "a", 1));
    u.Empty();
    Check("Empty", u.IsEmpty() && Count(u) == -2);

    WtString ascii("Plain 7-bit text");
    WtString before(ascii);
    ascii.CharToOemA();
    ascii.OemToCharA();
    Check("code-page conversions leave ASCII as it is and detach first",
          Is(ascii, "Plain 7-bit text", 16) && Count(before) == 1 && Count(ascii) == 1);
}

const char kFailureText[] = "FormatMessageA produced no text";

// A failing FormatMessageA reaches this module as an exception of its own compiler.
void FormatMessageFailure()
{
    WtString s("kept");
    bool byType = false, asBase = false, byValue = false, anyType = false, cast = false;
    try {
        s.FormatMessageA("");
    } catch (const WtFormatMessageError& e) {
        byType = SameText(e.what(), kFailureText);
    }
    try {
        s.FormatMessageA("%1", "");
    } catch (const std::exception& e) {
        asBase = SameText(e.what(), kFailureText);
        cast = dynamic_cast<const WtFormatMessageError*>(&e) != nullptr;
    }
    try {
        s.FormatMessageA("trailing %");
    } catch (WtFormatMessageError e) {
        byValue = SameText(e.what(), kFailureText);
    }
    bool wrongTypeCaught = false;
    try {
        try {
            s.FormatMessageA("");
        } catch (int) {
            wrongTypeCaught = true;
        }
    } catch (...) {
        anyType = true;
    }
    Check("failure caught by its type", byType);
    Check("failure caught as std::exception, and cast back", asBase && cast);
    Check("failure caught by value", byValue);
    Check("failure caught by catch (...), not by another type", anyType && !wrongTypeCaught);
    Check("the string keeps its text after each failure", Is(s, "kept", 4));
    s.FormatMessageA("%1!d! after", 3);
    Check("formatting works after the failures", Is(s, "3 after", 7));
}

}  // namespace

extern "C" __declspec(dllexport) void km_abi_client_run(KmReport report)
{
    g_report = report;
    ConstructionAndAssignment();
    ReturnedPointers();
    Concatenation();
    Comparison();
    SearchAndExtraction();
    Editing();
    MoreEditing();
    Formatting();
    FormatMessageFailure();
    Buffers();
    EmptyStrings();
    Derived::Run();
}
