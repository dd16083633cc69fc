#include "api/FrontAddress.h"

#include <cstring>

namespace mdlink {

namespace {

constexpr std::size_t SchemeLength = 6;
constexpr std::size_t MaxHostLength = 127;
constexpr int MaxPort = 65535;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading blanks and one sign, then digits up to the first non-digit; no
// digits give 0. False for a value outside 0..MaxPort.
bool ParsePort(const char* p, int& port)
{
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > MaxPort)
            return false;
    }
    if (negative && value != 0)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace

std::unique_ptr<Kelvo_SocketAddr> ParseFrontAddress(const char* text)
{
    if (!text)
        return nullptr;
    const char* colon = std::strrchr(text, ':');
    if (!colon || static_cast<std::size_t>(colon - text) < SchemeLength)
        return nullptr;
    const std::size_t hostLength = static_cast<std::size_t>(colon - text) - SchemeLength;
    if (hostLength > MaxHostLength)
        return nullptr;
    int port = 0;
    if (!ParsePort(colon + 1, port))
        return nullptr;

    char host[MaxHostLength + 1] = {};
    std::memcpy(host, text + SchemeLength, hostLength);
    std::unique_ptr<Kelvo_SocketAddr> address(new Kelvo_SocketAddr());
    address->Init(host, port);
    return address;
}

} // namespace mdlink
