#include "LoginMerge.h"

namespace mdlink {

std::deque<std::uint64_t>& LoginMerge::Owed(int link)
{
    if (owed_.size() <= static_cast<std::size_t>(link))
        owed_.resize(static_cast<std::size_t>(link) + 1);
    return owed_[static_cast<std::size_t>(link)];
}

void LoginMerge::Await(int link, std::uint64_t round)
{
    rounds_[round].pending |= 1u << link;
}

bool LoginMerge::Awaits(int link, std::uint64_t round) const
{
    auto it = rounds_.find(round);
    return it != rounds_.end() && (it->second.pending & (1u << link)) != 0;
}

bool LoginMerge::Expire(std::uint64_t round, LoginResponse& out)
{
    auto it = rounds_.find(round);
    if (it == rounds_.end())
        return false;
    Round& r = it->second;
    r.pending = 0;
    const bool settled = !r.answered && r.hasError;
    if (settled)
        out = r.firstError;
    rounds_.erase(it);
    return settled;
}

void LoginMerge::Expect(int link, std::uint64_t round)
{
    Owed(link).push_back(round);
    if (round != Own)
        rounds_[round].pending |= 1u << link;
}

void LoginMerge::Withdraw(int link)
{
    std::deque<std::uint64_t>& owed = Owed(link);
    if (owed.empty())
        return;
    const std::uint64_t round = owed.back();
    owed.pop_back();
    auto it = rounds_.find(round);
    if (it == rounds_.end())
        return;
    it->second.pending &= ~(1u << link);
    if (it->second.pending == 0)
        rounds_.erase(it);
}

// The link no longer owes the round; true when that settles it with the
// first error, which is then in `out`. Forgets the round once nobody owes it.
bool LoginMerge::Settle(std::uint64_t id, Round& r, int link, LoginResponse& out)
{
    r.pending &= ~(1u << link);
    bool settled = false;
    if (!r.answered && r.pending == 0 && r.hasError) {
        r.answered = true;
        out = r.firstError;
        settled = true;
    }
    if (r.pending == 0)
        rounds_.erase(id);
    return settled;
}

LoginMerge::What LoginMerge::Take(int link, const LoginResponse& answer, LoginResponse& out)
{
    std::deque<std::uint64_t>& owed = Owed(link);
    if (owed.empty())
        return What::Unexpected;
    const std::uint64_t id = owed.front();
    owed.pop_front();
    if (id == Own)
        return What::Own;
    auto it = rounds_.find(id);
    if (it == rounds_.end())
        return What::Unexpected;
    Round& r = it->second;
    if (r.answered) {
        Settle(id, r, link, out);
        return What::Late;
    }
    if (answer.Ok()) {
        r.answered = true;
        out = answer;
        Settle(id, r, link, out);
        return What::Deliver;
    }
    if (!r.hasError) {
        r.hasError = true;
        r.firstError = answer;
    }
    return Settle(id, r, link, out) ? What::Deliver : What::Held;
}

std::vector<LoginResponse> LoginMerge::LinkLost(int link)
{
    std::vector<LoginResponse> settled;
    std::deque<std::uint64_t>& owed = Owed(link);
    for (std::uint64_t id : owed) {
        auto it = rounds_.find(id);
        if (id == Own || it == rounds_.end())
            continue;
        LoginResponse out;
        if (Settle(id, it->second, link, out))
            settled.push_back(out);
    }
    owed.clear();
    return settled;
}

} // namespace mdlink
