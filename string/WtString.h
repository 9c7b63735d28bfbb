// WtString: a reference-counted 8-bit string with copy on write.
//
// The class is exported by name from the executable, so its layout, member
// signatures, const-ness and access are binary interface: one pointer to the
// characters, which are preceded in the same heap block by a WtStringData header.
// Do not add data members, virtual functions or base classes.
//
// Contract in brief:
//  - Copies share the buffer and bump its count; a write detaches first.
//  - Every empty string points at a static record (refCount -2) that is never
//    written or freed; it is recognised by its count, not by its address.
//  - Buffers are exact-fit: n characters take sizeof(WtStringData) + n + 1 bytes
//    from the global operator new. Only GetBuffer reserves spare room.
//  - Allocation failure propagates as std::bad_alloc; apart from that only
//    FormatMessageA throws (WtFormatMessageError).
//  - Texts given as const char* are measured up to their first NUL, and a null
//    pointer counts as empty; texts given as WtString keep embedded NULs.
//  - Indexes and lengths outside the ranges documented below are the caller's
//    fault and are not checked.
#ifndef WTSTRING_H
#define WTSTRING_H

#include "platform/wtwin.h"

#include <cstdarg>
#include <exception>

// The header in front of every string's characters.
struct WtStringData {
    LONG refCount;    // owners; -1 locked by its single owner; -2 the empty record
    int dataLength;   // characters in the text, embedded NULs counted
    int allocLength;  // room for characters, not counting the terminator

    char* data() { return reinterpret_cast<char*>(this + 1); }
};

// Thrown by WtString::FormatMessageA when the system formats nothing, an empty
// result included. The string keeps its previous text. It carries nothing but its
// type and what() text, so catching it by reference, by value or as std::exception
// are all the same.
//
// How it reaches the caller depends on how the member is called:
//  - Code linked with the class in this module calls the member directly and gets a
//    C++ exception of this compiler: catch (const WtFormatMessageError&),
//    catch (const std::exception&) or catch (...).
//  - A module that imports ?FormatMessageA@WtString@@QAAXPBDZZ from the executable's
//    export table was built with the Microsoft compiler's conventions, and gets a
//    C++ exception of that compiler (exception code 0xE06D7363) whose object is a
//    WtFormatMessageError laid out as that compiler lays out this declaration: its
//    own catch (const WtFormatMessageError&), catch (const std::exception&),
//    catch (WtFormatMessageError) and catch (...) handle it, and what() works. The
//    exception is raised after this module's own frames are done; there is nothing
//    to clean up in them. A module built with this compiler's conventions must not
//    call the member through the export table: it cannot catch that exception.
class WtFormatMessageError : public std::exception {
public:
    // Inline, so that a module of either convention that names the type needs
    // nothing beyond the export table.
    const char* what() const noexcept override { return "FormatMessageA produced no text"; }
};

class WtString {
public:
    // ---- Construction (all but the copy give a fresh exact-fit buffer) ----

    WtString();                               // the empty record
    WtString(const WtString& source);         // shares, unless source is locked
    WtString(char ch, int repeat);            // repeat <= 0: empty
    WtString(const char* text);               // null or "": empty
    WtString(const char* bytes, int length);  // length bytes, NULs included; <= 0: empty
    WtString(const unsigned char* text);
    ~WtString();

    // ---- Assignment (a large enough unshared buffer is reused) ----

    const WtString& operator=(const WtString& source);
    const WtString& operator=(char ch);
    const WtString& operator=(const char* text);  // may be a tail of this string
    const WtString& operator=(const unsigned char* text);

    // ---- Appending (in place while it fits, else exactly the new length) ----

    const WtString& operator+=(const WtString& text);  // may be this string
    const WtString& operator+=(char ch);               // NUL is appended too
    const WtString& operator+=(const char* text);

    // ---- Size and access ----

    int GetLength() const;
    int GetAllocLength() const;
    bool IsEmpty() const;
    void Empty();  // frees the buffer, except a locked one, which is kept and emptied

    char GetAt(int index) const;       // 0..GetLength(); GetLength() gives NUL
    char operator[](int index) const;  // as GetAt
    void SetAt(int index, char ch);    // 0..GetLength()-1; detaches first
    operator const char*() const;      // never null

    // ---- Comparison: zero-terminated views, results -1, 0 or 1; text not null ----

    int Compare(const char* text) const;        // unsigned bytes
    int CompareNoCase(const char* text) const;  // folds ASCII A-Z only
    int Collate(const char* text) const;        // the process keeps the "C" locale,
    int CollateNoCase(const char* text) const;  // so these equal the two above

    // ---- Searching: index from the start of the text, or -1 ----
    // Searches see the zero-terminated view. Texts and sets are valid texts; a
    // negative start counts as 0.

    int Find(char ch) const;                        // NUL finds the first NUL
    int Find(char ch, int start) const;             // start >= GetLength(): -1
    int Find(const char* text) const;               // "" is found at 0
    int Find(const char* text, int start) const;    // start > GetLength(): -1
    int ReverseFind(char ch) const;
    int FindOneOf(const char* set) const;           // an empty set finds nothing

    // ---- Extraction: a fresh exact-fit buffer, never shared; NULs are copied ----
    // Positions and counts are clamped to the text.

    WtString Mid(int first) const;
    WtString Mid(int first, int count) const;
    WtString Left(int count) const;
    WtString Right(int count) const;
    WtString SpanIncluding(const char* set) const;  // longest leading run in set
    WtString SpanExcluding(const char* set) const;  // longest leading run not in set

    // ---- Editing in place (each detaches a shared buffer first) ----
    // Case, reversal and trimming see the zero-terminated view and ASCII only;
    // whitespace is exactly 0x09-0x0D and 0x20.

    void MakeUpper();
    void MakeLower();
    void MakeReverse();
    void TrimLeft();
    void TrimLeft(char ch);
    void TrimLeft(const char* set);  // null or empty set: nothing, not even a detach
    void TrimRight();
    void TrimRight(char ch);
    void TrimRight(const char* set);
    // Index clamped to 0..GetLength(); returns the new length. The text may be
    // part of this string.
    int Insert(int index, char ch);
    int Insert(int index, const char* text);
    // Returns the length before the call. The count is cut at the end of the text.
    int Delete(int index, int count);
    // These see all GetLength() characters, embedded NULs included, and return
    // the number of characters removed or occurrences replaced. An empty or null
    // old text replaces nothing; a null new text is empty.
    int Remove(char ch);
    int Replace(char oldChar, char newChar);
    int Replace(const char* oldText, const char* newText);
    int ReplaceNoCase(const char* oldText, const char* newText);  // ASCII case-blind

    // ---- Formatting (the whole text is replaced) ----

    // printf-style, by the platform's runtime. The buffer reserved is at least the
    // class's own estimate of the result, and never less than the result itself.
    // Neither the format nor an argument may point into this string.
    void Format(const char* format, ...);
    void FormatV(const char* format, va_list args);
    // By the Windows message rules (%1, %2!d!, ...); throws WtFormatMessageError (see
    // there for how a caller through the export table receives it).
    void FormatMessageA(const char* format, ...);

    // ---- Conversions ----

    // Between the ANSI and the OEM code page, in place on the zero-terminated view.
    void CharToOemA();
    void OemToCharA();
    // The text as 16-bit units (bytes widened, no code page) inside this string's
    // own buffer, valid until the string changes. GetLength() becomes the length up
    // to the first NUL.
    operator const unsigned short*();

    // ---- Direct buffer access ----

    // Room for at least minLength characters plus a terminator, unshared. Text and
    // length are kept. Finish with ReleaseBuffer.
    char* GetBuffer(int minLength);
    // Sets the length (-1: up to the first NUL); 0 <= newLength <= GetAllocLength().
    void ReleaseBuffer(int newLength);
    // GetBuffer(length), then the length is set and terminated.
    char* GetBufferSetLength(int length);
    // Makes the buffer private: copies of a locked string copy its text, so the
    // pointer stays valid until UnlockBuffer or a change that reallocates.
    char* LockBuffer();
    void UnlockBuffer();
    // Shrinks the buffer to exactly the length (detaching and unlocking it).
    void FreeExtra();

protected:
    char* chars;  // never null

    void Init();
    WtStringData* GetData() const;
    // n characters, uninitialised, terminated at n; 0 gives the empty record.
    // The previous buffer is not released.
    void AllocBuffer(int length);
    // Into a fresh target that holds no buffer of its own.
    void AllocCopy(WtString& target, int copyLength, int copyIndex, int extraLength) const;
    void Release();
    static void Release(WtStringData* data);
    void CopyBeforeWrite();
    void AllocBeforeWrite(int length);
    void AssignCopy(int length, const char* source);
    // Into a string that holds no buffer of its own.
    void ConcatCopy(int length1, const char* source1, int length2, const char* source2);
    void ConcatInPlace(int length, const char* source);
    static int SafeStrlen(const char* text);

    friend WtString operator+(const WtString& left, const WtString& right);
    friend WtString operator+(const WtString& left, char right);
    friend WtString operator+(const WtString& left, const char* right);
    friend WtString operator+(char left, const WtString& right);
    friend WtString operator+(const char* left, const WtString& right);
};

// A fresh buffer of exactly the combined length (the empty record if both are empty).
WtString operator+(const WtString& left, const WtString& right);
WtString operator+(const WtString& left, char right);
WtString operator+(const WtString& left, const char* right);
WtString operator+(char left, const WtString& right);
WtString operator+(const char* left, const WtString& right);

// By Compare, so both sides are seen up to their first NUL. Texts must not be null.
bool operator==(const WtString& left, const WtString& right);
bool operator==(const WtString& left, const char* right);
bool operator==(const char* left, const WtString& right);
bool operator!=(const WtString& left, const WtString& right);
bool operator!=(const WtString& left, const char* right);
bool operator!=(const char* left, const WtString& right);
bool operator<(const WtString& left, const WtString& right);
bool operator<(const WtString& left, const char* right);
bool operator<(const char* left, const WtString& right);
bool operator<=(const WtString& left, const WtString& right);
bool operator<=(const WtString& left, const char* right);
bool operator<=(const char* left, const WtString& right);
bool operator>(const WtString& left, const WtString& right);
bool operator>(const WtString& left, const char* right);
bool operator>(const char* left, const WtString& right);
bool operator>=(const WtString& left, const WtString& right);
bool operator>=(const WtString& left, const char* right);
bool operator>=(const char* left, const WtString& right);

// This module's empty string; its header is the static empty record.
const WtString& WtGetEmptyString();

#endif // WTSTRING_H
