// Kelvo_SocketAddr: a host text and a port, as given.
#include "KelvoBase.h"

#include <cstring>

Kelvo_SocketAddr::Kelvo_SocketAddr() : m_host(), m_port(0)
{}

Kelvo_SocketAddr::~Kelvo_SocketAddr()
{}

int Kelvo_SocketAddr::Init(const char* host, int port)
{
    if (!host || port < 0 || port > 65535)
        return -1;
    const size_t n = std::strlen(host);
    if (n >= sizeof m_host)
        return -1;
    std::memcpy(m_host, host, n + 1);
    m_port = port;
    return 0;
}
