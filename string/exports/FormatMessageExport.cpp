// The exported WtString::FormatMessageA.
//
// The member reports failure with a C++ exception of this compiler. A module that
// imports it from the export table was built with the Microsoft compiler's
// conventions; this compiler's exception cannot pass through its frames (the unwinder
// finds no unwind tables there and ends the process), and its catch clauses do not
// know it. So the export catches the exception here, lets this module's frames finish,
// and raises the same failure again as that compiler raises a C++ exception: the
// system exception 0xE06D7363 with the thrown object and a description of its type,
// which the caller's frame handler matches against its catch clauses by type name.
//
// Everything below is laid out as the Microsoft compiler lays it out for 32-bit x86,
// where the descriptions hold plain addresses.
#include "string/WtString.h"
#include "string/WtStringMessage.h"

#include <windows.h>

#include <cstdarg>
#include <cstddef>

namespace {

// The exception code is "msc" with the top bits of an error; the first parameter says
// which layout of the descriptions follows.
const DWORD kMsvcExceptionCode = 0xE06D7363;
const ULONG_PTR kMsvcThrowMagic = 0x19930520;
const DWORD kMsvcThrowParameters = 3;

#define KM_MSVC_THISCALL __attribute__((thiscall))

// ---- Type descriptions --------------------------------------------------------------

// type_info as the compiler emits it for a type: a table pointer, a slot the runtime
// fills with the readable name on demand (so the record must be writable), and the
// decorated name. Nothing here calls the table, so it stays null.
template <std::size_t N>
struct TypeDescriptor {
    const void* table;
    void* readableName;
    char decoratedName[N];
};

// Where the caught type lies inside the thrown object; pdisp -1: not in a virtual base.
struct MemberDisplacement {
    int mdisp;
    int pdisp;
    int vdisp;
};

struct CatchableType {
    DWORD properties;  // 0: a class, copied and caught by value or by reference
    const void* type;  // its TypeDescriptor
    MemberDisplacement thisDisplacement;
    int size;
    const void* copyFunction;  // null: copied byte for byte
};

template <std::size_t N>
struct CatchableTypeArray {
    int count;
    const CatchableType* types[N];
};

struct ThrowInfo {
    DWORD attributes;           // 0: neither const nor volatile
    const void* unwindFunction; // destructor of the thrown object, after the catch
    const void* forwardCompat;
    const void* catchableTypes;
};

// The complete object locator in front of a vftable, for typeid and dynamic_cast.
struct BaseClassDescriptor {
    const void* type;
    DWORD containedBases;
    MemberDisplacement where;
    DWORD attributes;
    const void* hierarchy;
};

struct ClassHierarchyDescriptor {
    DWORD signature;
    DWORD attributes;
    DWORD baseCount;
    const BaseClassDescriptor* const* bases;
};

struct CompleteObjectLocator {
    DWORD signature;
    DWORD offset;
    DWORD constructorDisplacementOffset;
    const void* type;
    const ClassHierarchyDescriptor* hierarchy;
};

// ---- The thrown object ----------------------------------------------------------------

// WtFormatMessageError as the Microsoft compiler lays out its declaration: the vftable
// pointer and the two fields of that compiler's runtime's std::exception (the text
// what() of the base returns, and whether the object owns it).
struct MsvcFormatMessageError {
    const void* const* vftable;
    const char* text;
    bool ownsText;
};

const char* KM_MSVC_THISCALL What(const MsvcFormatMessageError* self)
{
    return self->text;
}

// The scalar deleting destructor of the first slot. The thrown object owns nothing and
// is never freed from the heap; a copy the caller made is its own to destroy.
void* KM_MSVC_THISCALL DeletingDestructor(MsvcFormatMessageError* self, unsigned /*flags*/)
{
    return self;
}

TypeDescriptor<sizeof ".?AVWtFormatMessageError@@"> g_errorType = {
    nullptr, nullptr, ".?AVWtFormatMessageError@@"};
TypeDescriptor<sizeof ".?AVexception@std@@"> g_exceptionType = {
    nullptr, nullptr, ".?AVexception@std@@"};

const MemberDisplacement kAtStart = {0, -1, 0};

extern const ClassHierarchyDescriptor g_errorHierarchy;
extern const ClassHierarchyDescriptor g_exceptionHierarchy;
const BaseClassDescriptor g_errorBase = {&g_errorType, 1, kAtStart, 0, &g_errorHierarchy};
const BaseClassDescriptor g_exceptionBase = {&g_exceptionType, 0, kAtStart, 0,
                                             &g_exceptionHierarchy};
const BaseClassDescriptor* const g_errorBases[] = {&g_errorBase, &g_exceptionBase};
const BaseClassDescriptor* const g_exceptionBases[] = {&g_exceptionBase};
const ClassHierarchyDescriptor g_errorHierarchy = {0, 0, 2, g_errorBases};
const ClassHierarchyDescriptor g_exceptionHierarchy = {0, 0, 1, g_exceptionBases};
const CompleteObjectLocator g_errorLocator = {0, 0, 0, &g_errorType, &g_errorHierarchy};

// The locator, then the slots in declaration order: the destructor, then what().
const void* const g_errorVftable[] = {
    &g_errorLocator,
    reinterpret_cast<const void*>(&DeletingDestructor),
    reinterpret_cast<const void*>(&What),
};

const CatchableType g_catchAsError = {0, &g_errorType, kAtStart,
                                      sizeof(MsvcFormatMessageError), nullptr};
const CatchableType g_catchAsException = {0, &g_exceptionType, kAtStart,
                                          sizeof(MsvcFormatMessageError), nullptr};
const CatchableTypeArray<2> g_catchableTypes = {2, {&g_catchAsError, &g_catchAsException}};
const ThrowInfo g_throwInfo = {0, nullptr, nullptr, &g_catchableTypes};

[[noreturn]] void RaiseForMsvcCaller()
{
    // In this frame, as that compiler places a thrown object: the caller's catch runs
    // while the raising frames are still on the stack, and is done before they are
    // left. Writable, since a catch by non-const reference may change it.
    MsvcFormatMessageError thrown = {&g_errorVftable[1], WtFormatMessageError().what(), false};
    const ULONG_PTR parameters[kMsvcThrowParameters] = {
        kMsvcThrowMagic,
        reinterpret_cast<ULONG_PTR>(&thrown),
        reinterpret_cast<ULONG_PTR>(&g_throwInfo),
    };
    RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, kMsvcThrowParameters,
                   parameters);
    // A handler cannot continue a noncontinuable exception.
    __builtin_unreachable();
}

} // namespace

// The export target of ?FormatMessageA@WtString@@QAAXPBDZZ: a variadic member is
// __cdecl with the object first on the stack in both conventions, so only the way the
// failure leaves differs.
extern "C" void km_export_format_message(WtString* self, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool failed = false;
    try {
        FormatMessageFromList(*self, format, &args);
    } catch (const WtFormatMessageError&) {
        failed = true;
    }
    va_end(args);
    // Raised outside the catch: the caller's handler resumes in its own frame and never
    // returns here, so nothing of this compiler's exception may still be pending.
    if (failed)
        RaiseForMsvcCaller();
}
