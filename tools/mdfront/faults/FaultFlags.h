// Value parsing shared by the faults' flags.
#pragma once

#include "FrontConfig.h"
#include "NumberText.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace mdfront {

inline bool ToCount(const std::string& v, std::uint64_t& out, std::uint64_t max = ~0ull)
{
    long long n;
    if (!mdtools::ParseInt(v, n) || n < 0 || static_cast<std::uint64_t>(n) > max)
        return false;
    out = static_cast<std::uint64_t>(n);
    return true;
}

inline bool NonNegative(const std::string& v, double& out)
{
    return mdtools::ParseDouble(v, out) && out >= 0;
}

inline std::chrono::milliseconds Millis(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

// What a count setting stores: one that may stay unset keeps its value type.
template <class T>
struct Stored {
    using type = T;
};
template <class T>
struct Stored<std::optional<T>> {
    using type = T;
};

// Parses a count in [min, max] into one member of the settings.
template <class T>
std::function<bool(const std::string&, FrontFaults&)> CountInto(T FrontFaults::*member,
                                                                std::uint64_t min = 0,
                                                                std::uint64_t max = ~0ull)
{
    return [member, min, max](const std::string& v, FrontFaults& f) {
        std::uint64_t n;
        if (!ToCount(v, n, max) || n < min)
            return false;
        f.*member = static_cast<typename Stored<T>::type>(n);
        return true;
    };
}

} // namespace mdfront
