// TEMPORARY: a minimal Kelvo_String, Kelvo_StringArray and Kelvo_SocketAddr so
// that the base library links until their real sources (String.cpp,
// StringArray.cpp, SocketAddr.cpp) land. To be deleted then.
#include "KelvoBase.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
char g_empty[1] = {0};
}

Kelvo_String::Kelvo_String() : m_data(g_empty), m_length(0), m_capacity(0) {}

Kelvo_String::Kelvo_String(const char* text) : Kelvo_String()
{
    if (text != nullptr)
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
    if (m_capacity > 0)
        std::free(m_data);
}

void Kelvo_String::Grow(int need)
{
    if (m_capacity > need)
        return;
    int capacity = m_capacity > 0 ? m_capacity : 16;
    while (capacity <= need)
        capacity *= 2;
    char* data = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    if (data == nullptr)
        throw std::bad_alloc();
    std::memcpy(data, m_data, static_cast<size_t>(m_length) + 1);
    if (m_capacity > 0)
        std::free(m_data);
    m_data = data;
    m_capacity = capacity;
}

void Kelvo_String::Own()
{
    if (m_capacity == 0)
        Grow(m_length);
}

int Kelvo_String::memcpy(const void* data, int n)
{
    m_length = 0;
    return memcat(data, n);
}

int Kelvo_String::memcat(const void* data, int n)
{
    if (n <= 0)
        return m_length;
    Own();
    Grow(m_length + n);
    std::memmove(m_data + m_length, data, static_cast<size_t>(n));
    m_length += n;
    m_data[m_length] = '\0';
    return m_length;
}

int Kelvo_String::sprintf_append(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n <= 0)
        return m_length;
    Own();
    Grow(m_length + n);
    va_start(args, format);
    std::vsnprintf(m_data + m_length, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    m_length += n;
    return m_length;
}

int Kelvo_String::addch(char ch, int count)
{
    for (int i = 0; i < count; ++i)
        memcat(&ch, 1);
    return m_length;
}

int Kelvo_String::truncate_right(int n)
{
    if (n <= 0 || m_length == 0)
        return m_length;
    Own();
    m_length = n >= m_length ? 0 : m_length - n;
    m_data[m_length] = '\0';
    return m_length;
}

int Kelvo_String::strncpy(const char* text, int n)
{
    int length = 0;
    while (length < n && text[length] != '\0')
        ++length;
    return memcpy(text, length);
}

void Kelvo_String::reserve(int n)
{
    Own();
    Grow(n);
}

void Kelvo_String::Reset()
{
    if (m_capacity == 0) {
        m_data = g_empty;
        m_length = 0;
        return;
    }
    m_length = 0;
    m_data[0] = '\0';
}

double Kelvo_String::ToFloat() const
{
    return std::strtod(m_data, nullptr);
}

int Kelvo_String::ToInt(int base) const
{
    return static_cast<int>(std::strtol(m_data, nullptr, base));
}

Kelvo_StringArray::Kelvo_StringArray()
    : m_text(m_inlineText), m_fields(reinterpret_cast<Kelvo_String*>(m_inlineFields)), m_count(0),
      m_textCapacity(InlineText), m_fieldCapacity(InlineFields)
{
}

Kelvo_StringArray::~Kelvo_StringArray()
{
    for (int i = 0; i < m_count; ++i)
        m_fields[i].~Kelvo_String();
    if (m_text != m_inlineText)
        delete[] m_text;
    if (m_fields != reinterpret_cast<Kelvo_String*>(m_inlineFields))
        ::operator delete(m_fields);
}

int Kelvo_StringArray::Split(const char* text, char separator, int flags)
{
    for (int i = 0; i < m_count; ++i)
        m_fields[i].~Kelvo_String();
    m_count = 0;
    if (text == nullptr)
        return 0;
    const int length = static_cast<int>(std::strlen(text));
    if (length + 1 > m_textCapacity) {
        if (m_text != m_inlineText)
            delete[] m_text;
        m_text = new char[static_cast<size_t>(length) + 1];
        m_textCapacity = length + 1;
    }
    std::memcpy(m_text, text, static_cast<size_t>(length) + 1);
    int start = 0;
    for (int i = 0; i <= length; ++i) {
        if (i < length && m_text[i] != separator)
            continue;
        m_text[i] = '\0';
        if (i > start || (flags & KELVO_SPLIT_SKIP_EMPTY) == 0) {
            if (m_count == m_fieldCapacity) {
                const int capacity = m_fieldCapacity * 2;
                auto* fields = static_cast<Kelvo_String*>(
                    ::operator new(sizeof(Kelvo_String) * static_cast<size_t>(capacity)));
                std::memcpy(static_cast<void*>(fields), static_cast<void*>(m_fields),
                            sizeof(Kelvo_String) * static_cast<size_t>(m_count));
                if (m_fields != reinterpret_cast<Kelvo_String*>(m_inlineFields))
                    ::operator delete(m_fields);
                m_fields = fields;
                m_fieldCapacity = capacity;
            }
            Kelvo_String* field = new (&m_fields[m_count++]) Kelvo_String();
            field->m_data = m_text + start;
            field->m_length = i - start;
        }
        start = i + 1;
    }
    return m_count;
}

const Kelvo_String& Kelvo_StringArray::operator[](int i) const
{
    static const Kelvo_String empty;
    return i >= 0 && i < m_count ? m_fields[i] : empty;
}

Kelvo_SocketAddr::Kelvo_SocketAddr() : m_host(), m_port(0) {}

Kelvo_SocketAddr::~Kelvo_SocketAddr() {}

int Kelvo_SocketAddr::Init(const char* host, int port)
{
    if (host == nullptr || std::strlen(host) >= sizeof m_host || port < 0 || port > 65535)
        return -1;
    std::strcpy(m_host, host);
    m_port = port;
    return 0;
}
