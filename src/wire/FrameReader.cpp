#include "wire/FrameReader.h"

namespace mdlink {

void FrameReader::Reset()
{
    Now = State::WaitHeader;
    Length = 0;
    Current = FrameHeader();
    std::vector<char>().swap(Spill);
}

// Made only when the whole body is ready: a big body announced and never
// sent whole (a cut or corrupt stream) costs no memory.
void FrameReader::MakeSpill()
{
    Spill.resize(Length);
}

} // namespace mdlink
