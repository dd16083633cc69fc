// The little a tool needs to know about its terminal.
#pragma once

namespace mdtools {

bool StdoutIsTerminal();

// Columns and rows of the terminal on stdout; 80 x 24 when unknown.
void TerminalSize(int& columns, int& rows);

// Makes the console interpret ANSI cursor sequences where it needs to be
// told; false when it cannot.
bool EnableAnsi();

} // namespace mdtools
