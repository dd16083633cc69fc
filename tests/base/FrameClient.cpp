#include "FrameClient.h"

#include "Peer.h"
#include "TestFrames.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kelvotest {

FrameClient::FrameClient(bool eager) : eager_(eager)
{}

FrameClient::~FrameClient()
{
    // As the real client does: close before destroying.
    Close();
}

void FrameClient::Enter()
{
    Check(Kelvo_LOOP_InThread() != 0);
    if (closed_.load())
        ++late_;
}

char* FrameClient::OnRecvBuffer(long& size)
{
    Enter();
    Check(asked_ == 0 && size > 0);
    char* buffer = inBody_ ? body_.data() : header_;
    const long want = inBody_ ? static_cast<long>(body_.size()) : static_cast<long>(kHeaderSize);
    size = (eager_ || size >= want) ? want : 0;
    asked_ = size;
    askedBuffer_ = buffer;
    return buffer;
}

int FrameClient::OnRecvData(char* buffer, long size)
{
    Enter();
    Check(asked_ > 0 && size == asked_ && buffer == askedBuffer_);
    asked_ = 0;
    if (!inBody_ && BodyLengthOf(header_) > 0) {
        body_.assign(BodyLengthOf(header_), '\0');
        inBody_ = true;
        return 0;
    }
    std::string frame(header_, kHeaderSize);
    if (inBody_)
        frame.append(body_.data(), body_.size());
    inBody_ = false;
    std::size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(std::move(frame));
        index = frames_.size() - 1;
    }
    changed_.notify_all();
    if (onFrame)
        onFrame(*this, index);
    return 0;
}

void FrameClient::OnConnectOk()
{
    Enter();
    // A new connection starts at a header, whatever the last one left.
    inBody_ = false;
    asked_ = 0;
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
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    changed_.notify_all();
    return onEvent ? onEvent(*this, event) : 0;
}

bool FrameClient::WaitFrames(std::size_t count, std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return frames_.size() >= count; });
}

bool FrameClient::WaitEvents(std::size_t count, std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
}

std::vector<std::string> FrameClient::Frames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<ClientEvent> FrameClient::Events() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::size_t FrameClient::FrameCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
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

} // namespace kelvotest
