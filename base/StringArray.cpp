// Kelvo_StringArray: fields of one text, as views into one private copy.
//
// The copy has every separator replaced by a zero byte, so each field is a
// terminated text in place; a record of up to 1 KiB and 64 fields is split
// without touching the heap.
#include "KelvoBase.h"
#include "inline/ByteScan.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const Kelvo_String g_emptyField;

} // namespace

Kelvo_StringArray::Kelvo_StringArray()
    : m_text(m_inlineText), m_fields(reinterpret_cast<Kelvo_String*>(m_inlineFields)), m_count(0),
      m_textCapacity(InlineText), m_fieldCapacity(InlineFields)
{}

// Fields are views (they own no memory), so only the two arrays are freed.
Kelvo_StringArray::~Kelvo_StringArray()
{
    if (m_text != m_inlineText)
        std::free(m_text);
    if (m_fields != reinterpret_cast<Kelvo_String*>(m_inlineFields))
        std::free(m_fields);
}

const Kelvo_String& Kelvo_StringArray::EmptyField()
{
    return g_emptyField;
}

int Kelvo_StringArray::Split(const char* text, char separator, int flags)
{
    m_count = 0;
    if (!text)
        return 0;
    const size_t length = std::strlen(text);
    if (length >= 0x3FFFFFF0u)
        throw std::bad_alloc();
    const int n = static_cast<int>(length);
    if (n + 1 > m_textCapacity) {
        char* fresh = static_cast<char*>(std::malloc(n + 1));
        if (!fresh)
            throw std::bad_alloc();
        if (m_text != m_inlineText)
            std::free(m_text);
        m_text = fresh;
        m_textCapacity = n + 1;
    }
    std::memcpy(m_text, text, n + 1);

    const bool skipEmpty = (flags & KELVO_SPLIT_SKIP_EMPTY) != 0;
    char* field = m_text;
    auto cut = [&](char* stop) {
        *stop = 0;
        if (!skipEmpty || stop != field)
            AddField(field, static_cast<int>(stop - field));
        field = stop + 1;
    };
    char* p = m_text;
    char* const end = m_text + n;
#if defined(KELVO_SSE2)
    // Sixteen bytes at a time: records are hundreds of bytes of short fields.
    const __m128i wanted = _mm_set1_epi8(separator);
    for (; end - p >= 16; p += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted)));
        for (; mask != 0; mask &= mask - 1)
            cut(p + kelvo::LowestBit(mask));
    }
#endif
    for (; p != end; ++p)
        if (*p == separator)
            cut(p);
    cut(end);
    return m_count;
}

void Kelvo_StringArray::AddField(char* text, int length)
{
    if (m_count == m_fieldCapacity)
        GrowFields();
    new (&m_fields[m_count]) Kelvo_String(text, length);
    ++m_count;
}

void Kelvo_StringArray::GrowFields()
{
    const int cap = m_fieldCapacity * 2;
    void* fresh = std::malloc(sizeof(Kelvo_String) * cap);
    if (!fresh)
        throw std::bad_alloc();
    // Views own nothing, so their bytes move as they are.
    std::memcpy(fresh, static_cast<void*>(m_fields), sizeof(Kelvo_String) * m_count);
    if (m_fields != reinterpret_cast<Kelvo_String*>(m_inlineFields))
        std::free(m_fields);
    m_fields = static_cast<Kelvo_String*>(fresh);
    m_fieldCapacity = cap;
}
