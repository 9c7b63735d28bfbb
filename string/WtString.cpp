#include "string/WtString.h"

#include "string/WtStringCounts.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

static_assert(sizeof(WtStringData) == 12, "the header is three 32-bit integers");
static_assert(sizeof(WtString) == sizeof(char*), "a string is one pointer");
static_assert(std::is_standard_layout<WtString>::value, "a string is one pointer");

namespace {

struct EmptyRecord {
    WtStringData header;
    char terminator;
};

EmptyRecord g_emptyRecord = {{kEmptyRecordCount, 0, 0}, '\0'};

static_assert(offsetof(EmptyRecord, terminator) == sizeof(WtStringData),
              "the terminator must follow the header directly");

// Laid out like a WtString (its only member), so the empty string is usable before
// any static constructor runs and has no destructor that could run too early.
char* const g_emptyStringChars = &g_emptyRecord.terminator;

} // namespace

const WtString& WtGetEmptyString()
{
    return *reinterpret_cast<const WtString*>(&g_emptyStringChars);
}

// ---- Representation ---------------------------------------------------------------

void WtString::Init()
{
    chars = WtGetEmptyString().chars;
}

WtStringData* WtString::GetData() const
{
    return reinterpret_cast<WtStringData*>(chars) - 1;
}

void WtString::AllocBuffer(int length)
{
    if (length == 0) {
        Init();
        return;
    }
    void* block = ::operator new(sizeof(WtStringData) + static_cast<size_t>(length) + 1);
    WtStringData* data = static_cast<WtStringData*>(block);
    data->refCount = 1;
    data->dataLength = length;
    data->allocLength = length;
    data->data()[length] = '\0';
    chars = data->data();
}

void WtString::Release(WtStringData* data)
{
    if (data->refCount == kEmptyRecordCount)
        return;
    // A locked buffer (-1) falls to -2 here and is freed like the last reference.
    if (InterlockedDecrement(&data->refCount) <= 0)
        ::operator delete(data);
}

void WtString::Release()
{
    if (GetData()->refCount == kEmptyRecordCount)
        return;
    Release(GetData());
    Init();
}

WtString::~WtString()
{
    Release(GetData());
}

void WtString::CopyBeforeWrite()
{
    WtStringData* shared = GetData();
    if (shared->refCount <= 1)
        return;
    AllocBuffer(shared->dataLength);
    std::memcpy(chars, shared->data(), static_cast<size_t>(shared->dataLength));
    Release(shared);
}

void WtString::AllocBeforeWrite(int length)
{
    const WtStringData* data = GetData();
    if (data->refCount > 1 || length > data->allocLength) {
        Release();
        AllocBuffer(length);
    }
}

int WtString::SafeStrlen(const char* text)
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

// ---- Construction -----------------------------------------------------------------

WtString::WtString()
{
    Init();
}

WtString::WtString(const WtString& source)
{
    WtStringData* data = source.GetData();
    if (data->refCount >= 0) {
        chars = source.chars;
        InterlockedIncrement(&data->refCount);
    } else {
        // A locked buffer stays private, so its zero-terminated text is copied.
        const int length = SafeStrlen(source.chars);
        AllocBuffer(length);
        if (length > 0)
            std::memcpy(chars, source.chars, static_cast<size_t>(length));
    }
}

WtString::WtString(char ch, int repeat)
{
    if (repeat > 0) {
        AllocBuffer(repeat);
        std::memset(chars, ch, static_cast<size_t>(repeat));
    } else {
        Init();
    }
}

WtString::WtString(const char* text)
{
    const int length = SafeStrlen(text);
    if (length > 0) {
        AllocBuffer(length);
        std::memcpy(chars, text, static_cast<size_t>(length));
    } else {
        Init();
    }
}

WtString::WtString(const char* source, int length)
{
    // A negative length gives the empty string rather than a wrapped allocation size.
    if (length > 0) {
        AllocBuffer(length);
        std::memcpy(chars, source, static_cast<size_t>(length));
    } else {
        Init();
    }
}

WtString::WtString(const unsigned char* text) : WtString(reinterpret_cast<const char*>(text))
{
}

// ---- Assignment ---------------------------------------------------------------------

void WtString::AssignCopy(int length, const char* source)
{
    AllocBeforeWrite(length);
    WtStringData* data = GetData();
    if (data->refCount == kEmptyRecordCount)
        return;
    // The source may be a tail of this very buffer when it was reused.
    if (length > 0)
        std::memmove(chars, source, static_cast<size_t>(length));
    data->dataLength = length;
    chars[length] = '\0';
}

const WtString& WtString::operator=(const WtString& source)
{
    if (chars == source.chars)
        return *this;
    WtStringData* target = GetData();
    WtStringData* data = source.GetData();
    if (target->refCount == kEmptyRecordCount && data->refCount == kEmptyRecordCount)
        return *this;
    if (target->refCount == kLockedCount || data->refCount == kLockedCount) {
        AssignCopy(data->dataLength, source.chars);
    } else if (data->refCount == kEmptyRecordCount) {
        Release();
        chars = source.chars;
    } else {
        // Count first: releasing ours can never free the source's buffer then.
        InterlockedIncrement(&data->refCount);
        Release();
        chars = source.chars;
    }
    return *this;
}

const WtString& WtString::operator=(char ch)
{
    AssignCopy(1, &ch);
    return *this;
}

const WtString& WtString::operator=(const char* text)
{
    AssignCopy(SafeStrlen(text), text);
    return *this;
}

const WtString& WtString::operator=(const unsigned char* text)
{
    return *this = reinterpret_cast<const char*>(text);
}

// ---- Concatenation ------------------------------------------------------------------

void WtString::ConcatCopy(int length1, const char* source1, int length2, const char* source2)
{
    const int total = length1 + length2;
    if (total == 0)
        return;
    AllocBuffer(total);
    if (length1 > 0)
        std::memcpy(chars, source1, static_cast<size_t>(length1));
    if (length2 > 0)
        std::memcpy(chars + length1, source2, static_cast<size_t>(length2));
}

void WtString::ConcatInPlace(int length, const char* source)
{
    if (length == 0)
        return;
    WtStringData* data = GetData();
    if (data->refCount <= 1 && data->dataLength + length <= data->allocLength) {
        std::memmove(chars + data->dataLength, source, static_cast<size_t>(length));
        data->dataLength += length;
        chars[data->dataLength] = '\0';
    } else {
        // The old buffer is released only after it was read: source may lie in it.
        ConcatCopy(data->dataLength, chars, length, source);
        Release(data);
    }
}

const WtString& WtString::operator+=(const WtString& text)
{
    ConcatInPlace(text.GetData()->dataLength, text.chars);
    return *this;
}

const WtString& WtString::operator+=(char ch)
{
    ConcatInPlace(1, &ch);
    return *this;
}

const WtString& WtString::operator+=(const char* text)
{
    ConcatInPlace(SafeStrlen(text), text);
    return *this;
}

WtString operator+(const WtString& left, const WtString& right)
{
    WtString result;
    result.ConcatCopy(left.GetData()->dataLength, left.chars, right.GetData()->dataLength,
                      right.chars);
    return result;
}

WtString operator+(const WtString& left, char right)
{
    WtString result;
    result.ConcatCopy(left.GetData()->dataLength, left.chars, 1, &right);
    return result;
}

WtString operator+(const WtString& left, const char* right)
{
    WtString result;
    result.ConcatCopy(left.GetData()->dataLength, left.chars, WtString::SafeStrlen(right), right);
    return result;
}

WtString operator+(char left, const WtString& right)
{
    WtString result;
    result.ConcatCopy(1, &left, right.GetData()->dataLength, right.chars);
    return result;
}

WtString operator+(const char* left, const WtString& right)
{
    WtString result;
    result.ConcatCopy(WtString::SafeStrlen(left), left, right.GetData()->dataLength, right.chars);
    return result;
}

// ---- Size and access ----------------------------------------------------------------

int WtString::GetLength() const
{
    return GetData()->dataLength;
}

int WtString::GetAllocLength() const
{
    return GetData()->allocLength;
}

bool WtString::IsEmpty() const
{
    return GetData()->dataLength == 0;
}

void WtString::Empty()
{
    WtStringData* data = GetData();
    if (data->dataLength == 0)
        return;
    if (data->refCount < 0)
        AssignCopy(0, "");
    else
        Release();
}

char WtString::GetAt(int index) const
{
    return chars[index];
}

char WtString::operator[](int index) const
{
    return chars[index];
}

void WtString::SetAt(int index, char ch)
{
    CopyBeforeWrite();
    chars[index] = ch;
}

WtString::operator const char*() const
{
    return chars;
}

// ---- Direct buffer access -----------------------------------------------------------

char* WtString::GetBuffer(int minLength)
{
    WtStringData* old = GetData();
    if (old->refCount > 1 || minLength > old->allocLength) {
        const int length = old->dataLength;
        AllocBuffer(minLength > length ? minLength : length);
        if (GetData() != old && GetData()->refCount != kEmptyRecordCount) {
            std::memcpy(chars, old->data(), static_cast<size_t>(length) + 1);
            GetData()->dataLength = length;
        }
        Release(old);
    }
    return chars;
}

void WtString::ReleaseBuffer(int newLength)
{
    CopyBeforeWrite();
    if (newLength == -1)
        newLength = lstrlenA(chars);
    WtStringData* data = GetData();
    if (data->refCount == kEmptyRecordCount)
        return;
    data->dataLength = newLength;
    chars[newLength] = '\0';
}

char* WtString::GetBufferSetLength(int length)
{
    GetBuffer(length);
    WtStringData* data = GetData();
    if (data->refCount != kEmptyRecordCount) {
        data->dataLength = length;
        chars[length] = '\0';
    }
    return chars;
}

char* WtString::LockBuffer()
{
    char* buffer = GetBuffer(0);
    WtStringData* data = GetData();
    if (data->refCount != kEmptyRecordCount)
        data->refCount = kLockedCount;
    return buffer;
}

void WtString::UnlockBuffer()
{
    WtStringData* data = GetData();
    if (data->refCount == kLockedCount)
        data->refCount = 1;
}

void WtString::FreeExtra()
{
    WtStringData* old = GetData();
    if (old->dataLength == old->allocLength)
        return;
    AllocBuffer(old->dataLength);
    if (old->dataLength > 0)
        std::memcpy(chars, old->data(), static_cast<size_t>(old->dataLength));
    Release(old);
}
