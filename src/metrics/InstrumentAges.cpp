#include "metrics/InstrumentAges.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace mdlink {
namespace metrics {
namespace {

std::atomic<std::uint32_t> g_markMs{0};
std::atomic<bool> g_serving{false};
std::atomic<std::uint32_t> g_staleBoundMs{30000};

// InstrumentID's room, terminator included.
constexpr std::size_t IdRoom = 81;

struct Key {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
    bool operator<(const Key& o) const { return k0 != o.k0 ? k0 < o.k0 : k1 < o.k1; }
    bool operator==(const Key& o) const { return k0 == o.k0 && k1 == o.k1; }
};

// An id of up to 16 characters is its own key; a longer one folds the rest
// in with a 64-bit hash.
Key KeyOf(const char* id)
{
    const std::size_t length = strnlen(id, IdRoom);
    unsigned char raw[16] = {};
    std::memcpy(raw, id, std::min<std::size_t>(length, sizeof raw));
    Key key;
    std::memcpy(&key.k0, raw, 8);
    std::memcpy(&key.k1, raw + 8, 8);
    if (length > sizeof raw) {
        std::uint64_t h = 1469598103934665603ULL;
        for (std::size_t i = sizeof raw; i < length; ++i)
            h = (h ^ static_cast<unsigned char>(id[i])) * 1099511628211ULL;
        key.k1 ^= h;
    }
    return key;
}

std::size_t Spread(const Key& key)
{
    const std::uint64_t h = (key.k0 * 0x9E3779B97F4A7C15ULL) ^ (key.k1 * 0xC2B2AE3D27D4EB4FULL);
    return static_cast<std::size_t>(h ^ (h >> 29));
}

} // namespace

struct InstrumentAges::Table {
    struct Slot {
        Key key;
        bool used = false;
        std::atomic<std::uint32_t> seenMs{0};
    };

    explicit Table(std::size_t n)
    {
        std::size_t capacity = 16;
        while (capacity < 2 * n)
            capacity *= 2;
        slots.reset(new Slot[capacity]);
        mask = capacity - 1;
    }
    Slot* Find(const Key& key) const
    {
        for (std::size_t i = Spread(key) & mask;; i = (i + 1) & mask) {
            Slot& s = slots[i];
            if (!s.used)
                return nullptr;
            if (s.key == key)
                return &s;
        }
    }
    void Insert(const Key& key, std::uint32_t seenMs)
    {
        std::size_t i = Spread(key) & mask;
        while (slots[i].used)
            i = (i + 1) & mask;
        slots[i].key = key;
        slots[i].used = true;
        slots[i].seenMs.store(seenMs, std::memory_order_relaxed);
        ++count;
    }

    std::unique_ptr<Slot[]> slots;
    std::size_t mask = 0;
    std::size_t count = 0;
    Table* nextRetired = nullptr;
};

void SetMarkClock(std::uint32_t nowMs)
{
    g_markMs.store(nowMs, std::memory_order_relaxed);
}

void SetServing()
{
    g_serving.store(true, std::memory_order_relaxed);
}

bool Serving()
{
    return g_serving.load(std::memory_order_relaxed);
}

void SetStaleBoundMs(std::uint32_t ms)
{
    g_staleBoundMs.store(ms, std::memory_order_relaxed);
}

std::uint32_t StaleBoundMs()
{
    return g_staleBoundMs.load(std::memory_order_relaxed);
}

InstrumentAges::~InstrumentAges()
{
    delete offered_.load();
    delete current_.load();
    for (Table* t = retired_.load(); t != nullptr;) {
        Table* next = t->nextRetired;
        delete t;
        t = next;
    }
}

void InstrumentAges::Note(char* ids[], int count, bool subscribed)
{
    if (!Serving() || count <= 0)
        return;
    std::lock_guard<std::mutex> lock(notesMu_);
    for (int i = 0; i < count; ++i)
        if (ids[i] != nullptr && ids[i][0] != '\0')
            notes_.emplace_back(std::string(ids[i], strnlen(ids[i], IdRoom - 1)), subscribed);
    noted_.store(true, std::memory_order_release);
}

void InstrumentAges::MarkIn(Table& t, const char* instrumentId)
{
    if (Table::Slot* s = t.Find(KeyOf(instrumentId)))
        s->seenMs.store(g_markMs.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void InstrumentAges::Adopt()
{
    Table* t = offered_.exchange(nullptr, std::memory_order_acquire);
    if (t == nullptr)
        return;
    Table* old = current_.load(std::memory_order_relaxed);
    current_.store(t, std::memory_order_release);
    if (old == nullptr)
        return;
    old->nextRetired = retired_.load(std::memory_order_relaxed);
    while (!retired_.compare_exchange_weak(old->nextRetired, old, std::memory_order_release,
                                           std::memory_order_relaxed)) {}
}

namespace {

// The later of an instrument's marks in the table the loop uses and the one
// it has not taken yet; ticks wrap, their differences do not.
std::uint32_t Later(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) >= 0 ? a : b;
}

} // namespace

// Each subscribed instrument with its latest mark: the members are the
// offered table's when one waits, the marks the later of its own and the
// loop's table's.
template <typename Visit>
void InstrumentAges::EachMember(Visit visit) const
{
    const Table* offered = offered_.load(std::memory_order_acquire);
    const Table* current = current_.load(std::memory_order_acquire);
    const Table* members = offered ? offered : current;
    if (members == nullptr)
        return;
    for (std::size_t i = 0; i <= members->mask; ++i) {
        const Table::Slot& s = members->slots[i];
        if (!s.used)
            continue;
        std::uint32_t seen = s.seenMs.load(std::memory_order_relaxed);
        if (current != members)
            if (const Table::Slot* c = current ? current->Find(s.key) : nullptr)
                seen = Later(seen, c->seenMs.load(std::memory_order_relaxed));
        visit(s.key, seen);
    }
}

void InstrumentAges::Rebuild(std::uint32_t nowMs)
{
    for (Table* t = retired_.exchange(nullptr, std::memory_order_acquire); t != nullptr;) {
        Table* next = t->nextRetired;
        delete t;
        t = next;
    }
    if (!noted_.exchange(false, std::memory_order_acquire))
        return;
    std::vector<std::pair<std::string, bool>> notes;
    {
        std::lock_guard<std::mutex> lock(notesMu_);
        notes.swap(notes_);
    }
    std::map<Key, std::uint32_t> set;
    EachMember([&set](const Key& key, std::uint32_t seen) { set.emplace(key, seen); });
    for (const auto& note : notes) {
        if (note.second)
            set.emplace(KeyOf(note.first.c_str()), nowMs); // one already there keeps its time
        else
            set.erase(KeyOf(note.first.c_str()));
    }
    Table* t = new Table(set.size());
    for (const auto& entry : set)
        t->Insert(entry.first, entry.second);
    // The loop never took a table still offered: only this thread has it.
    delete offered_.exchange(t, std::memory_order_acq_rel);
}

InstrumentAges::Staleness InstrumentAges::Read(std::uint32_t nowMs, std::uint32_t boundMs) const
{
    Staleness out;
    EachMember([&](const Key&, std::uint32_t seen) {
        const std::uint32_t age = static_cast<std::int32_t>(nowMs - seen) > 0 ? nowMs - seen : 0;
        ++out.subscribed;
        out.stale += age > boundMs;
        out.oldestMs = std::max(out.oldestMs, age);
    });
    return out;
}

} // namespace metrics
} // namespace mdlink
