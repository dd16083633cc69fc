// What the fault files share: parsing of flag values into a fault's
// settings, and building a fault from the one setting that turns it on.
#pragma once

#include "Fault.h"
#include "NumberText.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

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
template <class S, class T>
std::function<bool(const std::string&, S&)> CountInto(T S::*member, std::uint64_t min = 0,
                                                      std::uint64_t max = ~0ull)
{
    return [member, min, max](const std::string& v, S& f) {
        std::uint64_t n;
        if (!ToCount(v, n, max) || n < min)
            return false;
        f.*member = static_cast<typename Stored<T>::type>(n);
        return true;
    };
}

// Parses a non-negative number, converted by `convert`, into a duration setting.
template <class S, class D>
std::function<bool(const std::string&, S&)> DurationInto(std::optional<D> S::*member, D (*convert)(double))
{
    return [member, convert](const std::string& v, S& f) {
        double n;
        if (!NonNegative(v, n))
            return false;
        f.*member = convert(n);
        return true;
    };
}

// A setting turns its fault on when present (optional) or non-zero.
template <class T>
bool IsSet(const std::optional<T>& v)
{
    return v.has_value();
}
template <class T>
bool IsSet(const T& v)
{
    return v != T{};
}
template <class T>
const T& ValueOf(const std::optional<T>& v)
{
    return *v;
}
template <class T>
const T& ValueOf(const T& v)
{
    return v;
}

// Builds F from the setting's value when the setting is on.
template <class F, class S, class T>
std::function<std::unique_ptr<Fault>(const S&)> WhenSet(T S::*member)
{
    return [member](const S& f) -> std::unique_ptr<Fault> {
        if (!IsSet(f.*member))
            return nullptr;
        return std::make_unique<F>(ValueOf(f.*member));
    };
}

} // namespace mdfront
