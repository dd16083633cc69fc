#include "metrics/Registry.h"

#include "metrics/RedundantFigures.h"

#include <mutex>

namespace mdlink {
namespace metrics {
namespace {

struct Entry {
    int client;
    std::weak_ptr<LinkFigures> single;
    std::weak_ptr<RedundantFigures> redundant;
    bool Expired() const { return single.expired() && redundant.expired(); }
};

struct Clients {
    std::mutex mu;
    int last = 0;
    std::vector<Entry> entries;
};

// Never destroyed: the listener's thread may be reading it while the
// process exits.
Clients& TheClients()
{
    static Clients* clients = new Clients();
    return *clients;
}

int Add(Entry entry)
{
    Clients& c = TheClients();
    std::lock_guard<std::mutex> lock(c.mu);
    // Released clients go here too, so that a process that makes clients
    // all day without a scrape keeps a short list.
    for (std::size_t i = 0; i < c.entries.size();) {
        if (c.entries[i].Expired())
            c.entries.erase(c.entries.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    entry.client = ++c.last;
    c.entries.push_back(std::move(entry));
    return c.last;
}

} // namespace

int Register(const std::shared_ptr<LinkFigures>& single)
{
    return Add(Entry{0, single, {}});
}

int Register(const std::shared_ptr<RedundantFigures>& redundant)
{
    return Add(Entry{0, {}, redundant});
}

std::vector<Listed> ListClients()
{
    Clients& c = TheClients();
    std::vector<Listed> out;
    std::lock_guard<std::mutex> lock(c.mu);
    out.reserve(c.entries.size());
    for (const Entry& e : c.entries) {
        Listed l;
        l.client = e.client;
        l.single = e.single.lock();
        l.redundant = e.redundant.lock();
        if (l.single || l.redundant)
            out.push_back(std::move(l));
    }
    return out;
}

} // namespace metrics
} // namespace mdlink
