#include "stream/WtStream.h"

#include <cstring>

namespace {

char* CopyText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

} // namespace

WtStreamException::WtStreamException(std::int32_t code)
    : code(code), text(nullptr)
{
}

WtStreamException::WtStreamException(std::int32_t code, const char* text)
    : code(code), text(CopyText(text))
{
}

WtStreamException::WtStreamException(const WtStreamException& other)
    : code(other.code), text(CopyText(other.text))
{
}

WtStreamException::~WtStreamException()
{
    delete[] text;
}
