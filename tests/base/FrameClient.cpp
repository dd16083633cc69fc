#include "FrameClient.h"

#include "Peer.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kelvotest {

FrameClient::FrameClient(bool eager) : m_eager(eager)
{
}

FrameClient::~FrameClient()
{
    // As the real client does: close before destroying.
    Close();
}

void FrameClient::Enter()
{
    Check(Kelvo_LOOP_InThread() != 0);
    if (m_closed.load())
        ++m_late;
}

char* FrameClient::OnRecvBuffer(long& size)
{
    Enter();
    Check(m_asked == 0 && size > 0);
    char* buffer = m_inBody ? m_body.data() : m_header;
    const long want = m_inBody ? static_cast<long>(m_body.size()) : static_cast<long>(kHeaderSize);
    size = (m_eager || size >= want) ? want : 0;
    m_asked = size;
    m_askedBuffer = buffer;
    return buffer;
}

int FrameClient::OnRecvData(char* buffer, long size)
{
    Enter();
    Check(m_asked > 0 && size == m_asked && buffer == m_askedBuffer);
    m_asked = 0;
    if (!m_inBody && BodyLengthOf(m_header) > 0) {
        m_body.assign(BodyLengthOf(m_header), '\0');
        m_inBody = true;
        return 0;
    }
    std::string frame(m_header, kHeaderSize);
    if (m_inBody)
        frame.append(m_body.data(), m_body.size());
    m_inBody = false;
    std::size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(std::move(frame));
        index = m_frames.size() - 1;
    }
    m_changed.notify_all();
    if (onFrame)
        onFrame(*this, index);
    return 0;
}

void FrameClient::OnConnectOk()
{
    Enter();
    // A new connection starts at a header, whatever the last one left.
    m_inBody = false;
    m_asked = 0;
    Record({ClientEvent::ConnectOk, 0});
}

int FrameClient::OnConnectFaild(void*, int reason)
{
    Enter();
    return Record({ClientEvent::ConnectFailed, reason});
}

int FrameClient::OnDisConnect(void*, int reason)
{
    Enter();
    return Record({ClientEvent::Disconnected, reason});
}

int FrameClient::Record(ClientEvent event)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    m_changed.notify_all();
    return onEvent ? onEvent(*this, event) : 0;
}

bool FrameClient::WaitFrames(std::size_t count, std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_frames.size() >= count; });
}

bool FrameClient::WaitEvents(std::size_t count, std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_events.size() >= count; });
}

std::vector<std::string> FrameClient::Frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<ClientEvent> FrameClient::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::size_t FrameClient::FrameCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

void RunOnLoop(const std::function<void()>& fn)
{
    Kelvo_LOOP_Call([](void* p) { (*static_cast<const std::function<void()>*>(p))(); },
                    const_cast<std::function<void()>*>(&fn));
}

std::unique_ptr<PeerConn> Connected(FrameClient& client, Listener& listener)
{
    EXPECT_EQ(client.Connect("127.0.0.1", listener.Port()), 0);
    std::unique_ptr<PeerConn> peer = listener.Accept();
    EXPECT_TRUE(peer != nullptr);
    EXPECT_TRUE(client.WaitEvents(1));
    return peer;
}

}  // namespace kelvotest
