// Kelvo_String: a growable byte string that is always terminated.
#include "KelvoBase.h"

#include "inline/NumberText.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

char g_empty[1] = {0};

// Largest length a string may reach; keeps every size computation in int.
constexpr int MaxLength = 0x3FFFFFF0;

} // namespace

Kelvo_String::Kelvo_String() : m_data(g_empty), m_length(0), m_capacity(0)
{}

Kelvo_String::Kelvo_String(const char* text) : Kelvo_String()
{
    if (text)
        memcpy(text, static_cast<int>(std::strlen(text)));
}

Kelvo_String::Kelvo_String(const Kelvo_String& other) : Kelvo_String()
{
    memcpy(other.m_data, other.m_length);
}

Kelvo_String& Kelvo_String::operator=(const Kelvo_String& other)
{
    if (this != &other)
        memcpy(other.m_data, other.m_length);
    return *this;
}

Kelvo_String::~Kelvo_String()
{
    if (m_capacity)
        std::free(m_data);
}

// Makes room for need bytes plus the terminator, keeping the contents.
// Throws std::bad_alloc like operator new when memory runs out.
void Kelvo_String::Grow(int need)
{
    if (need > MaxLength)
        throw std::bad_alloc();
    if (m_capacity && need < m_capacity)
        return;
    int cap = m_capacity ? m_capacity : 32;
    while (cap <= need)
        cap = cap > MaxLength / 2 ? MaxLength + 1 : cap * 2;
    char* fresh = static_cast<char*>(m_capacity ? std::realloc(m_data, cap) : std::malloc(cap));
    if (!fresh)
        throw std::bad_alloc();
    if (!m_capacity) {
        std::memcpy(fresh, m_data, m_length);
        fresh[m_length] = 0;
    }
    m_data = fresh;
    m_capacity = cap;
}

// A view (or the shared empty text) becomes a private copy before a change.
void Kelvo_String::Own()
{
    if (!m_capacity)
        Grow(m_length);
}

void Kelvo_String::reserve(int n)
{
    if (n > 0)
        Grow(n);
}

int Kelvo_String::memcpy(const void* data, int n)
{
    if (n < 0 || (n > 0 && !data))
        return -1;
    if (n == 0) {
        Reset();
        return 0;
    }
    // The source may lie inside this string: copy before releasing a view.
    if (!m_capacity || n >= m_capacity) {
        Kelvo_String fresh;
        fresh.Grow(n);
        std::memcpy(fresh.m_data, data, n);
        fresh.m_data[n] = 0;
        fresh.m_length = n;
        std::swap(m_data, fresh.m_data);
        std::swap(m_length, fresh.m_length);
        std::swap(m_capacity, fresh.m_capacity);
        return m_length;
    }
    std::memmove(m_data, data, n);
    m_length = n;
    m_data[n] = 0;
    return m_length;
}

int Kelvo_String::memcat(const void* data, int n)
{
    if (n < 0 || (n > 0 && !data))
        return -1;
    if (n == 0)
        return m_length;
    if (n > MaxLength - m_length)
        throw std::bad_alloc();
    const char* src = static_cast<const char*>(data);
    const bool inside = m_capacity && src >= m_data && src < m_data + m_capacity;
    const std::ptrdiff_t offset = inside ? src - m_data : 0;
    Grow(m_length + n);
    if (inside)
        src = m_data + offset;
    std::memmove(m_data + m_length, src, n);
    m_length += n;
    m_data[m_length] = 0;
    return m_length;
}

int Kelvo_String::sprintf_append(const char* format, ...)
{
    if (!format)
        return -1;
    char local[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(local, sizeof local, format, args);
    va_end(args);
    if (n < 0)
        return -1;
    if (n < static_cast<int>(sizeof local))
        return memcat(local, n);
    if (n > MaxLength - m_length)
        throw std::bad_alloc();
    Grow(m_length + n);
    va_start(args, format);
    std::vsnprintf(m_data + m_length, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    m_length += n;
    return m_length;
}

int Kelvo_String::addch(char ch, int count)
{
    if (count <= 0)
        return m_length;
    if (count > MaxLength - m_length)
        throw std::bad_alloc();
    Grow(m_length + count);
    std::memset(m_data + m_length, static_cast<unsigned char>(ch), count);
    m_length += count;
    m_data[m_length] = 0;
    return m_length;
}

int Kelvo_String::truncate_right(int n)
{
    if (n <= 0 || m_length == 0)
        return m_length;
    Own();
    m_length = n >= m_length ? 0 : m_length - n;
    m_data[m_length] = 0;
    return m_length;
}

int Kelvo_String::strncpy(const char* text, int n)
{
    if (!text || n <= 0) {
        Reset();
        return 0;
    }
    const void* zero = std::memchr(text, 0, n);
    if (zero)
        n = static_cast<int>(static_cast<const char*>(zero) - text);
    return memcpy(text, n);
}

void Kelvo_String::Reset()
{
    if (m_capacity) {
        m_length = 0;
        m_data[0] = 0;
    } else {
        m_data = g_empty;
        m_length = 0;
    }
}

double Kelvo_String::ToFloat() const
{
    return kelvo::TextToFloat(m_data, m_data + m_length);
}

int Kelvo_String::ToInt(int base) const
{
    return kelvo::TextToInt(m_data, m_data + m_length, base);
}
