#include "NatsLink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace mdrelay {

namespace {

constexpr std::int64_t ReconnectWaitMs = 250;
constexpr std::int64_t ReconnectJitterMs = 250;
constexpr std::int64_t ConnectTimeoutMs = 5000;
// The closed callback is the client library's last; it comes within moments.
constexpr std::chrono::seconds CloseWait{10};

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Readable(const std::string& path)
{
    return std::ifstream(path, std::ios::binary).good();
}

} // namespace

NatsLink::~NatsLink()
{
    Close();
}

std::string NatsLink::ErrorText(const char* what, natsStatus s)
{
    std::string text = std::string(what) + ": " + natsStatus_GetText(s);
    natsStatus last = NATS_OK;
    const char* detail = nats_GetLastError(&last);
    if (detail && *detail && text.find(detail) == std::string::npos)
        text += std::string(" (") + detail + ")";
    return text;
}

bool NatsLink::Configure(const BusOptions& o, std::string& error)
{
    std::string password = o.password, token = o.token;
    if ((password.empty() && !LoadSecret(o.passwordFile, NatsPasswordVariable, password, error)) ||
        (token.empty() && !LoadSecret(o.tokenFile, NatsTokenVariable, token, error)))
        return false;
    // The client library reads the credentials file only when it connects,
    // and then says no more than that the connection failed.
    for (const std::string* file : {&o.credsFile, &o.tlsCa, &o.tlsCert, &o.tlsKey})
        if (!file->empty() && !Readable(*file)) {
            error = "cannot read " + *file;
            return false;
        }
    natsStatus s = natsOptions_Create(&opts_);
    if (s == NATS_OK)
        s = natsOptions_SetName(opts_, o.name.c_str());
    if (s == NATS_OK && !o.user.empty())
        s = natsOptions_SetUserInfo(opts_, o.user.c_str(), password.c_str());
    if (s == NATS_OK && !token.empty())
        s = natsOptions_SetToken(opts_, token.c_str());
    if (s == NATS_OK && !o.credsFile.empty())
        s = natsOptions_SetUserCredentialsFromFiles(opts_, o.credsFile.c_str(), nullptr);
    if (s == NATS_OK && (o.tls || !o.tlsCa.empty() || !o.tlsCert.empty()))
        s = natsOptions_SetSecure(opts_, true);
    if (s == NATS_OK && !o.tlsCa.empty())
        s = natsOptions_LoadCATrustedCertificates(opts_, o.tlsCa.c_str());
    if (s == NATS_OK && !o.tlsCert.empty())
        s = natsOptions_LoadCertificatesChain(opts_, o.tlsCert.c_str(), o.tlsKey.c_str());
    if (s == NATS_OK)
        s = natsOptions_SetTimeout(opts_, ConnectTimeoutMs);
    // Otherwise the client's flusher thread lets writes gather for about a
    // millisecond before it sends them.
    if (s == NATS_OK && o.sendAtOnce)
        s = natsOptions_SetSendAsap(opts_, true);
    if (s == NATS_OK && how_ == Reconnect::ByClient) {
        natsOptions_SetMaxReconnect(opts_, -1); // for as long as the process runs
        natsOptions_SetReconnectWait(opts_, ReconnectWaitMs);
        s = natsOptions_SetReconnectJitter(opts_, ReconnectJitterMs, ReconnectJitterMs);
    } else if (s == NATS_OK) {
        s = natsOptions_SetAllowReconnect(opts_, false);
    }
    if (s == NATS_OK) {
        natsOptions_SetDisconnectedCB(opts_, OnDisconnected, this);
        natsOptions_SetReconnectedCB(opts_, OnReconnected, this);
        natsOptions_SetClosedCB(opts_, OnClosed, this);
        s = natsOptions_SetErrorHandler(opts_, OnError, this);
    }
    if (s != NATS_OK) {
        error = ErrorText("the NATS options", s);
        return false;
    }
    servers_ = o.servers;
    return true;
}

bool NatsLink::DialOnce()
{
    std::vector<const char*> servers;
    for (const std::string& s : servers_)
        servers.push_back(s.c_str());
    natsOptions_SetServers(opts_, servers.data(), static_cast<int>(servers.size()));
    natsConnection* conn = nullptr;
    if (natsConnection_Connect(&conn, opts_) != NATS_OK)
        return false;
    std::lock_guard<std::mutex> lk(mu_);
    ++made_;
    conn_ = conn;
    return true;
}

bool NatsLink::Connect(const BusOptions& options, std::string& error)
{
    configFailed_ = !Configure(options, error);
    if (configFailed_)
        return false;
    if (!DialOnce()) {
        natsStatus last = NATS_OK;
        nats_GetLastError(&last);
        error = ErrorText("connecting to NATS", last);
        return false;
    }
    up_ = true;
    generation_.fetch_add(1, std::memory_order_release);
    if (how_ == Reconnect::FreshConnection)
        redial_ = std::thread([this] { Redial(); });
    return true;
}

void NatsLink::Redial()
{
    std::mt19937 jitter(std::random_device{}());
    std::unique_lock<std::mutex> lk(mu_);
    for (;;) {
        cv_.wait(lk, [&] { return failed_ || closing_; });
        if (closing_)
            return;
        // Every server the failed connection knew, the announced ones too.
        char** known = nullptr;
        int count = 0;
        if (natsConnection_GetServers(conn_, &known, &count) == NATS_OK) {
            for (int i = 0; i < count; ++i) {
                if (std::find(servers_.begin(), servers_.end(), known[i]) == servers_.end())
                    servers_.push_back(known[i]);
                free(known[i]);
            }
            free(known);
        }
        natsConnection_Destroy(conn_);
        conn_ = nullptr;
        failed_ = false;
        while (!closing_) {
            lk.unlock();
            const bool ok = DialOnce();
            lk.lock();
            if (ok)
                break;
            const auto wait = std::chrono::milliseconds(ReconnectWaitMs + jitter() % ReconnectJitterMs);
            cv_.wait_for(lk, wait, [&] { return closing_; });
        }
        if (closing_)
            return;
        ++reconnections_;
        lk.unlock();
        SetUp(true);
        lk.lock();
    }
}

void NatsLink::Close()
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (closing_ && !conn_ && !redial_.joinable())
            return;
        closing_ = true;
    }
    cv_.notify_all();
    if (redial_.joinable())
        redial_.join();
    std::unique_lock<std::mutex> lk(mu_);
    if (conn_) {
        natsConnection* conn = conn_;
        lk.unlock();
        natsConnection_Close(conn);
        lk.lock();
    }
    cv_.wait_for(lk, CloseWait, [&] { return closed_ >= made_; });
    if (conn_)
        natsConnection_Destroy(conn_);
    conn_ = nullptr;
    if (opts_)
        natsOptions_Destroy(opts_);
    opts_ = nullptr;
    up_ = false;
}

void NatsLink::WithConnection(const std::function<void(natsConnection*)>& f)
{
    std::lock_guard<std::mutex> lk(mu_);
    f(up_ ? conn_ : nullptr);
}

natsConnection* NatsLink::Connection()
{
    std::lock_guard<std::mutex> lk(mu_);
    return conn_;
}

std::string NatsLink::ConnectedUrl()
{
    char url[256] = {};
    std::lock_guard<std::mutex> lk(mu_);
    if (!conn_ || natsConnection_GetConnectedUrl(conn_, url, sizeof url) != NATS_OK)
        return "";
    return url;
}

void NatsLink::SetUp(bool up)
{
    up_ = up;
    generation_.fetch_add(1, std::memory_order_release);
    if (listener_)
        listener_(up);
}

void NatsLink::OnDisconnected(natsConnection*, void* closure)
{
    static_cast<NatsLink*>(closure)->SetUp(false);
}

void NatsLink::OnReconnected(natsConnection*, void* closure)
{
    auto* self = static_cast<NatsLink*>(closure);
    ++self->reconnections_;
    self->SetUp(true);
}

void NatsLink::OnClosed(natsConnection*, void* closure)
{
    auto* self = static_cast<NatsLink*>(closure);
    bool lost = false;
    {
        std::lock_guard<std::mutex> lk(self->mu_);
        ++self->closed_;
        if (!self->closing_ && self->how_ == Reconnect::FreshConnection) {
            self->failed_ = true; // Redial takes over
            lost = true;
        }
    }
    self->cv_.notify_all();
    if (lost)
        self->SetUp(false);
}

void NatsLink::OnError(natsConnection* nc, natsSubscription*, natsStatus s, void* closure)
{
    // Asynchronous errors (a slow consumer, a refused permission) can come
    // once per message: each text at most once a minute.
    auto* self = static_cast<NatsLink*>(closure);
    const char* detail = nullptr;
    std::string text = natsStatus_GetText(s);
    if (nc && natsConnection_GetLastError(nc, &detail) != NATS_OK && detail && *detail)
        text += std::string(": ") + detail;
    if (self->errorListener_)
        self->errorListener_(s, text);
    if (self->errorPrints_.Allow(text, SteadyNs()))
        std::fprintf(stderr, "mdrelay: NATS: %s\n", text.c_str());
}

} // namespace mdrelay
