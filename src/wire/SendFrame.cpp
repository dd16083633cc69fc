#include "wire/SendFrame.h"

#include <memory>

namespace mdlink {

int SendFrame(Kelvo_TcpClientHandler& connection, const FrameHeader& header, const void* body, int length)
{
    unsigned char head[FrameHeaderSize];
    EncodeHeader(header, head);
    std::unique_ptr<Kelvo_String> frame(new Kelvo_String());
    frame->reserve(static_cast<int>(FrameHeaderSize) + length);
    frame->memcpy(head, FrameHeaderSize);
    if (length > 0)
        frame->memcat(body, length);

    Kelvo_String* handed = frame.release();
    const int result = connection.SendData(handed);
    if (result == 0)
        delete handed; // refused: still ours (null if the connection took it anyway)
    return result;
}

} // namespace mdlink
