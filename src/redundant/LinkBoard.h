// Which links are up, and what the application hears of it.
//
// A link is up from its inner OnFrontConnected to its inner
// OnFrontDisconnected. The application hears OnFrontConnected when the first
// link comes up, and OnFrontDisconnected only when no link is up any more,
// with the reason of the last link lost. While no link is up it hears the
// failed connection attempts of the link that was up last (before any link
// ever was: link 0), as the single client reports them; those of the other
// links are only logged.
//
//   event                          links up before   application hears
//   Up(k)                          0                 OnFrontConnected
//   Up(k)                          1 or more         nothing
//   Down(k), k was up              1 (only k)        OnFrontDisconnected(reason); k reports from now
//   Down(k), k was up              2 or more         nothing
//   Down(k), k not up (attempt)    0, k reports      OnFrontDisconnected(reason)
//   Down(k), k not up (attempt)    otherwise         nothing
//
// Not thread-safe: the redundant client uses it under its session lock.
#pragma once

#include <cstddef>
#include <vector>

namespace mdlink {

class LinkBoard {
public:
    explicit LinkBoard(int links) : up_(static_cast<std::size_t>(links), false) {}

    enum class Tell { Nothing, Connected, Disconnected };

    Tell Up(int link)
    {
        if (up_[Index(link)])
            return Tell::Nothing;
        up_[Index(link)] = true;
        return ++upCount_ == 1 ? Tell::Connected : Tell::Nothing;
    }

    // wasUp: the link was up (a loss), else a failed attempt.
    Tell Down(int link, bool& wasUp)
    {
        wasUp = up_[Index(link)];
        if (!wasUp)
            return upCount_ == 0 && link == reporter_ ? Tell::Disconnected : Tell::Nothing;
        up_[Index(link)] = false;
        if (--upCount_ > 0)
            return Tell::Nothing;
        reporter_ = link;
        return Tell::Disconnected;
    }

    bool IsUp(int link) const { return up_[Index(link)]; }
    int UpCount() const { return upCount_; }
    int Links() const { return static_cast<int>(up_.size()); }

private:
    static std::size_t Index(int link) { return static_cast<std::size_t>(link); }

    std::vector<bool> up_;
    int upCount_ = 0;
    int reporter_ = 0;
};

} // namespace mdlink
