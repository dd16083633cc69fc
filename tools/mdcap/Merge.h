// mdcap merge's rule for captures of one feed: each capture is a multiset
// of records (by record key), and the merge is their union. A record that
// one capture holds a times and another b times is written max(a, b)
// times: once when both captured it, as often as it came when the feed
// repeated it.
//
// Streaming, by receive time: per key, how many times each capture has
// shown it so far and how many times it was written; a record is written
// when its capture has now shown it more often than it was written. A key
// is forgotten once it has not been seen for a window of receive time:
// two captures of one feed receive a record within far less than that.
#pragma once

#include "recordkey/RecordKey.h"

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mdcap {

class MultisetUnion {
public:
    static constexpr std::int64_t DefaultWindowNs = 60'000'000'000;

    MultisetUnion(std::size_t captures, std::int64_t windowNs = DefaultWindowNs);

    // A record of capture `capture`, received at ns (not before the last
    // one given): true when it is to be written.
    bool Take(std::size_t capture, const mdrecord::RecordKey& key, std::int64_t ns);

    std::size_t Remembered() const { return entries_.size(); }

private:
    struct Entry {
        std::vector<std::uint32_t> seen;
        std::uint32_t written = 0;
        std::int64_t lastNs = 0;
    };
    void Forget(std::int64_t ns);

    std::size_t captures_;
    std::int64_t windowNs_;
    std::unordered_map<mdrecord::RecordKey, Entry, mdrecord::RecordKeyHash> entries_;
    std::deque<std::pair<std::int64_t, mdrecord::RecordKey>> order_;
};

} // namespace mdcap
