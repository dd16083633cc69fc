// Login responses from several links, answered once per application login.
//
// The application's login is a round: it goes out on every link that is up,
// and on each link that comes up while the round is open (Await, then
// Expect). Each connection answers its logins in order, so every link keeps
// a queue of the rounds it owes an answer (or Own, the redundant client's
// own login of a link that came up later); a front that never answers has
// its link closed at the login deadline, which empties the queue. A round
// is answered to the application once: with the first success; or, when no
// link owes it anything more (each refused, was lost after it was sent, or
// the round's deadline passed: Expire), with the first error. Own logins
// and the answers after a round's are not the application's.
//
// Not thread-safe: the redundant client calls it under its session lock.
#pragma once

#include "MdApi.h"

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

namespace mdlink {

struct LoginResponse {
    CThostFtdcRspUserLoginField login{};
    CThostFtdcRspInfoField info{};
    bool hasInfo = false;
    int requestId = 0;
    bool isLast = false;

    bool Ok() const { return !hasInfo || info.ErrorID == 0; }
};

class LoginMerge {
public:
    static constexpr std::uint64_t Own = 0;

    std::uint64_t BeginRound() { return nextRound_++; }
    // The round waits for a link that is not up yet.
    void Await(int link, std::uint64_t round);
    // The link owes an answer to `round` (or Own).
    void Expect(int link, std::uint64_t round);
    // Whether the round still waits for any link, and for this one.
    bool Unanswered(std::uint64_t round) const
    {
        auto it = rounds_.find(round);
        return it != rounds_.end() && !it->second.answered;
    }
    bool Awaits(int link, std::uint64_t round) const;
    // The deadline passed: nobody owes the round anything more. True with
    // the first error in `out` when that answers it.
    bool Expire(std::uint64_t round, LoginResponse& out);
    // The last Expect on this link did not go out after all.
    void Withdraw(int link);

    enum class What { Deliver, Held, Late, Own, Unexpected };
    // `answer`: what this link answered. Deliver: `out` is for the application.
    What Take(int link, const LoginResponse& answer, LoginResponse& out);

    // The link's connection ended; returns the answers this settles (rounds
    // whose other links all answered with errors).
    std::vector<LoginResponse> LinkLost(int link);

private:
    struct Round {
        std::uint32_t pending = 0; // a bit per link that owes an answer
        bool answered = false;
        bool hasError = false;
        LoginResponse firstError;
    };

    std::deque<std::uint64_t>& Owed(int link);
    bool Settle(std::uint64_t id, Round& r, int link, LoginResponse& out);

    std::vector<std::deque<std::uint64_t>> owed_;
    std::unordered_map<std::uint64_t, Round> rounds_;
    std::uint64_t nextRound_ = 1;
};

} // namespace mdlink
