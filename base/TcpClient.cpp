// Kelvo_SocketHandlerObj and Kelvo_TcpClientHandler: the public face of a
// connection. Everything but SendData runs on the loop: from another thread
// it is carried there and waited for, so that no callback of what was closed
// is in flight when the call returns.
//
// A handler inherited across fork() is inert in the child: its connection
// belongs to the parent's loop, whose sockets and locks the child never
// touches (closing a socket there would take it out of the parent's epoll
// set too). Its calls do nothing and its destructor leaks the connection.
#include "ForkGeneration.h"
#include "KelvoBase.h"
#include "Loop.h"
#include "TcpCore.h"

#include <string>

Kelvo_SocketHandlerObj::Kelvo_SocketHandlerObj() : m_conn(nullptr)
{}

Kelvo_SocketHandlerObj::~Kelvo_SocketHandlerObj()
{
    delete m_conn;
}

Kelvo_TcpClientHandler::Kelvo_TcpClientHandler()
{
    m_conn = new Kelvo_ConnState{std::make_shared<kelvo::TcpCore>(this), kelvo::ForkGeneration()};
}

namespace {

bool Inherited(const Kelvo_ConnState* conn)
{
    return kelvo::Inherited(conn->generation);
}

} // namespace

Kelvo_TcpClientHandler::~Kelvo_TcpClientHandler()
{
    if (Inherited(m_conn)) {
        kelvo::LeakOnPurpose(m_conn);
        m_conn = nullptr;
        return;
    }
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core] { core->Detach(); });
    delete m_conn;
    m_conn = nullptr;
}

// Defaults for a handler that overrides nothing: it takes no bytes and does
// not reconnect.
char* Kelvo_TcpClientHandler::OnRecvBuffer(long& size)
{
    size = 0;
    return nullptr;
}

void Kelvo_TcpClientHandler::OnConnectOk()
{}

int Kelvo_TcpClientHandler::OnConnectFaild(void*, int)
{
    return 0;
}

int Kelvo_TcpClientHandler::OnDisConnect(void*, int)
{
    return 0;
}

int Kelvo_TcpClientHandler::OnRecvData(char*, long)
{
    return 0;
}

int Kelvo_TcpClientHandler::Connect(const char* host, int port)
{
    if (host == nullptr || Inherited(m_conn))
        return -1;
    // The loop calls this object's overrides from now on: the module that
    // holds them (the one its virtual table lives in) stays loaded.
    kelvo::Loop::KeepLoaded(*reinterpret_cast<const void* const*>(this));
    const std::string name(host);
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core, &name, port] { core->Connect(name, port); });
    return 0;
}

int Kelvo_TcpClientHandler::Close()
{
    if (Inherited(m_conn))
        return 0;
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core] { core->Close(); });
    return 0;
}

int Kelvo_TcpClientHandler::SendData(Kelvo_String*& frame)
{
    if (Inherited(m_conn))
        return 0;
    return m_conn->core->Send(frame);
}

void Kelvo_TcpClientHandler::Abort()
{
    if (Inherited(m_conn))
        return;
    std::shared_ptr<kelvo::TcpCore> core = m_conn->core;
    if (kelvo::Loop::Get().InThread())
        core->Abort();
    else
        kelvo::Loop::Get().Post([core] { core->Abort(); });
}

void Kelvo_TcpClientHandler::SetReconnectAddr(const char* host, int port)
{
    if (host == nullptr || Inherited(m_conn))
        return;
    const std::string name(host);
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core, &name, port] { core->SetReconnectAddr(name, port); });
}
