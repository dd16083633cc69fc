// What a subscription call returns before anything is sent, the same on the
// single and the redundant client: a count of 0 gives the call's own result
// (-1 for subscribing, 0 for unsubscribing), a negative count 0, a null array
// or a null id -1. Empty when the call goes on.
#pragma once

#include <optional>

namespace mdlink {

inline std::optional<int> ListRefusal(char* ids[], int count, int resultForNone)
{
    if (count == 0)
        return resultForNone;
    if (count < 0)
        return 0;
    if (!ids)
        return -1;
    for (int i = 0; i < count; ++i)
        if (!ids[i])
            return -1;
    return std::nullopt;
}

} // namespace mdlink
