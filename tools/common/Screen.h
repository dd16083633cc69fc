// How a client shows what it received: the ticker redrawn in place on a
// terminal, plain lines elsewhere, or only the events. Shared by mdcli and
// the bus reader (mdrelay --read).
#pragma once

#include "MarketBoard.h"
#include "Ticker.h"

#include <string>
#include <vector>

namespace mdtools {

enum class Display { Quiet, Terminal, Lines };

// Quiet when asked; the ticker when stdout is a terminal that takes ANSI
// sequences; plain lines otherwise.
Display ChooseDisplay(bool quiet);

// Writes to stdout what changed on the board since the last call.
void Refresh(MarketBoard& board, Ticker& ticker, Display display);

// "<program>: N depth records for M instruments, K for-quote notices", the
// given lines (the links'), and a last line when ids were left off the ticker.
std::string Summary(const MarketBoard& board, const char* program,
                    const std::vector<std::string>& lines = {});

} // namespace mdtools
