// Subscription responses from several links, answered once per instrument.
//
// An application call (subscribe or unsubscribe, depth or for-quote) of n
// instruments goes to several links; each link's front answers each
// instrument with one response frame naming it. Every link keeps what it
// still owes, in the order requested: segments of a call, or of the
// redundant client's own re-subscriptions. A response of a kind answers the
// first instrument of that name still owed on that link, matched by id, so
// that a front that skips an answer costs that answer only:
//   Deliver     the first answer for that instrument of the call; isLast
//               when it was the call's last instrument still unanswered
//   Again       another link answered that instrument first
//   Own         an answer to the client's own re-subscription
//   Unexpected  nothing of that kind and name is owed on that link
// Segments older than the one answered, of the same kind, are owed no more
// (the front skipped them). A call is forgotten once no link owes it
// anything (answered, skipped or lost).
//
// Not thread-safe: the redundant client calls it under its session lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace mdlink {

enum class ListKind { SubMarket, UnSubMarket, SubForQuote, UnSubForQuote, Count_ };

class ResponseMerge {
public:
    static constexpr std::uint64_t Own = 0;

    explicit ResponseMerge(int links);

    // A new application call; nothing is kept until a link is expected to
    // answer it.
    std::uint64_t BeginCall() { return nextCall_++; }
    // The link will answer each of the ids of `call` (or Own).
    void Expect(int link, ListKind kind, std::uint64_t call, char* ids[], int count);

    enum class What { Deliver, Again, Own, Unexpected };
    struct Answer {
        What what = What::Unexpected;
        bool isLast = false;
    };
    Answer Take(int link, ListKind kind, const char* id);

    // The link's connection ended: it owes nothing any more.
    void LinkLost(int link);

    std::size_t OpenCalls() const { return calls_.size(); }

private:
    struct Segment {
        std::uint64_t call;
        std::vector<std::string> ids;
        std::vector<bool> taken; // answered by this link
        int left;
    };
    struct Call {
        int count = 0;
        int answered = 0;
        int outstanding = 0; // answers owed by links, over all of them
        std::vector<std::string> ids;
        std::vector<bool> done;
    };

    void Owe(std::uint64_t call, int delta);

    std::vector<std::deque<Segment>> owed_; // [link * kinds + kind]
    std::unordered_map<std::uint64_t, Call> calls_;
    std::uint64_t nextCall_ = 1;
};

} // namespace mdlink
