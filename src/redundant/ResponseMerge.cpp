#include "ResponseMerge.h"

namespace mdlink {

namespace {

constexpr int Kinds = static_cast<int>(ListKind::Count_);

} // namespace

ResponseMerge::ResponseMerge(int links) : owed_(static_cast<std::size_t>(links * Kinds))
{}

void ResponseMerge::Expect(int link, ListKind kind, std::uint64_t call, char* ids[], int count)
{
    if (count <= 0)
        return;
    Segment s{call, std::vector<std::string>(ids, ids + count),
              std::vector<bool>(static_cast<std::size_t>(count)), count};
    owed_[static_cast<std::size_t>(link * Kinds + static_cast<int>(kind))].push_back(s);
    if (call == Own)
        return;
    Call& c = calls_[call];
    if (c.done.empty()) {
        c.count = count;
        c.ids = s.ids;
        c.done.assign(static_cast<std::size_t>(count), false);
    }
    c.outstanding += count;
}

void ResponseMerge::Owe(std::uint64_t call, int delta)
{
    auto it = calls_.find(call);
    if (it == calls_.end())
        return;
    it->second.outstanding -= delta;
    if (it->second.outstanding <= 0)
        calls_.erase(it);
}

ResponseMerge::Answer ResponseMerge::Take(int link, ListKind kind, const char* id)
{
    std::deque<Segment>& owed = owed_[static_cast<std::size_t>(link * Kinds + static_cast<int>(kind))];
    Answer a;
    for (std::size_t s = 0; s < owed.size(); ++s) {
        Segment& seg = owed[s];
        std::size_t index = 0;
        while (index < seg.ids.size() && (seg.taken[index] || seg.ids[index] != id))
            ++index;
        if (index == seg.ids.size())
            continue;
        // Found: what the front skipped before this segment is owed no more.
        for (std::size_t k = 0; k < s; ++k) {
            if (owed.front().call != Own)
                Owe(owed.front().call, owed.front().left);
            owed.pop_front();
        }
        Segment& found = owed.front();
        found.taken[index] = true;
        const std::uint64_t call = found.call;
        if (--found.left == 0)
            owed.pop_front();
        if (call == Own) {
            a.what = What::Own;
            return a;
        }
        auto it = calls_.find(call);
        if (it == calls_.end())
            return a; // cannot happen: a call lives while it is owed
        Call& c = it->second;
        if (c.done[index]) {
            a.what = What::Again;
        } else {
            c.done[index] = true;
            ++c.answered;
            a.what = What::Deliver;
            a.isLast = c.answered == c.count;
        }
        Owe(call, 1);
        return a;
    }
    return a;
}

void ResponseMerge::LinkLost(int link)
{
    for (int k = 0; k < Kinds; ++k) {
        std::deque<Segment>& owed = owed_[static_cast<std::size_t>(link * Kinds + k)];
        for (const Segment& s : owed)
            if (s.call != Own)
                Owe(s.call, s.left);
        owed.clear();
    }
}

} // namespace mdlink
