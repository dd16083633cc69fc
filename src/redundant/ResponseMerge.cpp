#include "ResponseMerge.h"

namespace mdlink {

namespace {

constexpr int Kinds = static_cast<int>(ListKind::Count_);

} // namespace

ResponseMerge::ResponseMerge(int links) : owed_(static_cast<std::size_t>(links * Kinds))
{
}

void ResponseMerge::Expect(int link, ListKind kind, std::uint64_t call, int count)
{
    if (count <= 0)
        return;
    owed_[static_cast<std::size_t>(link * Kinds + static_cast<int>(kind))].push_back({call, 0, count});
    if (call == Own)
        return;
    Call& c = calls_[call];
    if (c.done.empty()) {
        c.count = count;
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

ResponseMerge::Answer ResponseMerge::Take(int link, ListKind kind)
{
    std::deque<Segment>& owed = owed_[static_cast<std::size_t>(link * Kinds + static_cast<int>(kind))];
    Answer a;
    if (owed.empty())
        return a;
    Segment& s = owed.front();
    const std::uint64_t call = s.call;
    const int index = s.next++;
    if (s.next == s.end)
        owed.pop_front();
    if (call == Own) {
        a.what = What::Own;
        return a;
    }
    auto it = calls_.find(call);
    if (it == calls_.end())
        return a; // cannot happen: a call lives while it is owed
    Call& c = it->second;
    if (c.done[static_cast<std::size_t>(index)]) {
        a.what = What::Again;
    } else {
        c.done[static_cast<std::size_t>(index)] = true;
        ++c.answered;
        a.what = What::Deliver;
        a.isLast = c.answered == c.count;
    }
    Owe(call, 1);
    return a;
}

void ResponseMerge::LinkLost(int link)
{
    for (int k = 0; k < Kinds; ++k) {
        std::deque<Segment>& owed = owed_[static_cast<std::size_t>(link * Kinds + k)];
        for (const Segment& s : owed)
            if (s.call != Own)
                Owe(s.call, s.end - s.next);
        owed.clear();
    }
}

} // namespace mdlink
