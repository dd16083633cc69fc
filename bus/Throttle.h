// Lets a message through once per key and period: an error that comes with
// every record is printed once a minute for each subject it names, not once
// per record, and an error of one subject never hides another's.
#pragma once

#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>

namespace mdrelay {

class Throttle {
public:
    static constexpr std::int64_t Minute = 60'000'000'000;

    explicit Throttle(std::int64_t periodNs = Minute) : periodNs_(periodNs) {}

    // True when key has not been let through within the period before nowNs.
    bool Allow(const std::string& key, std::int64_t nowNs)
    {
        std::lock_guard<std::mutex> lk(mu_);
        const auto it = last_.find(key);
        if (it != last_.end() && nowNs - it->second < periodNs_)
            return false;
        if (it == last_.end() && last_.size() >= MaxKeys) {
            // Keys past their period say nothing more; ids are many but bounded.
            for (auto i = last_.begin(); i != last_.end();)
                i = nowNs - i->second >= periodNs_ ? last_.erase(i) : std::next(i);
            if (last_.size() >= MaxKeys)
                last_.clear();
        }
        last_[key] = nowNs;
        return true;
    }

private:
    static constexpr std::size_t MaxKeys = 4096;
    const std::int64_t periodNs_;
    std::mutex mu_;
    std::unordered_map<std::string, std::int64_t> last_;
};

} // namespace mdrelay
