// Kelvo_SocketHandlerObj and Kelvo_TcpClientHandler: the public face of a
// connection. Everything but SendData runs on the loop: from another thread
// it is carried there and waited for, so that no callback of what was closed
// is in flight when the call returns.
#include "KelvoBase.h"
#include "Loop.h"
#include "TcpCore.h"

#include <string>

Kelvo_SocketHandlerObj::Kelvo_SocketHandlerObj() : m_conn(nullptr)
{
}

Kelvo_SocketHandlerObj::~Kelvo_SocketHandlerObj()
{
    delete m_conn;
}

Kelvo_TcpClientHandler::Kelvo_TcpClientHandler()
{
    m_conn = new Kelvo_ConnState{std::make_shared<kelvo::TcpCore>(this)};
}

Kelvo_TcpClientHandler::~Kelvo_TcpClientHandler()
{
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
{
}

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
    if (host == nullptr)
        return -1;
    const std::string name(host);
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core, &name, port] { core->Connect(name, port); });
    return 0;
}

int Kelvo_TcpClientHandler::Close()
{
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core] { core->Close(); });
    return 0;
}

int Kelvo_TcpClientHandler::SendData(Kelvo_String*& frame)
{
    return m_conn->core->Send(frame);
}

void Kelvo_TcpClientHandler::Abort()
{
    std::shared_ptr<kelvo::TcpCore> core = m_conn->core;
    if (kelvo::Loop::Get().InThread())
        core->Abort();
    else
        kelvo::Loop::Get().Post([core] { core->Abort(); });
}

void Kelvo_TcpClientHandler::SetReconnectAddr(const char* host, int port)
{
    if (host == nullptr)
        return;
    const std::string name(host);
    kelvo::TcpCore* core = m_conn->core.get();
    kelvo::Loop::Get().Call([core, &name, port] { core->SetReconnectAddr(name, port); });
}
