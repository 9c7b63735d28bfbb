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
//  - Allocation failure propagates as std::bad_alloc; nothing else throws.
//  - Texts given as const char* are measured up to their first NUL, and a null
//    pointer counts as empty; texts given as WtString keep embedded NULs.
//  - Indexes and lengths outside the ranges documented below are the caller's
//    fault and are not checked.
#ifndef WTSTRING_H
#define WTSTRING_H

#include "platform/wtwin.h"

// The header in front of every string's characters.
struct WtStringData {
    LONG refCount;    // owners; -1 locked by its single owner; -2 the empty record
    int dataLength;   // characters in the text, embedded NULs counted
    int allocLength;  // room for characters, not counting the terminator

    char* data() { return reinterpret_cast<char*>(this + 1); }
};

class WtString {
public:
    // ---- Construction (all but the copy give a fresh exact-fit buffer) ----

    WtString();                               // the empty record
    WtString(const WtString& source);         // shares, unless source is locked
    WtString(char ch, int repeat);            // repeat <= 0: empty
    WtString(const char* text);               // null or "": empty
    WtString(const char* chars, int length);  // length bytes, NULs included; <= 0: empty
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
