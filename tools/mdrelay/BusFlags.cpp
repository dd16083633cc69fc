#include "BusFlags.h"

#include <sstream>

namespace mdrelay {

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

} // namespace mdrelay
