#include "string/WtStringTestSupport.h"

#include <cstdlib>
#include <new>

namespace {

long g_news = 0;
long g_deletes = 0;
size_t g_lastSize = 0;

} // namespace

void* operator new(size_t size)
{
    ++g_news;
    g_lastSize = size;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    g_deletes += block != nullptr;
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

HeapWatch::HeapWatch() : newsAtStart_(g_news), deletesAtStart_(g_deletes) {}

int HeapWatch::Allocations() const { return static_cast<int>(g_news - newsAtStart_); }

int HeapWatch::Frees() const { return static_cast<int>(g_deletes - deletesAtStart_); }

size_t HeapWatch::LastSize() const { return Allocations() ? g_lastSize : 0; }
