// How mdrelay reaches the bus, in both modes: the servers, the names and
// the credentials. Secrets never come from the command line: a password or
// token is read from a file named by a flag, or from the environment.
#pragma once

#include "Flags.h"

#include <string>
#include <vector>

namespace mdrelay {

// The environment variables read when no file is named.
constexpr const char* NatsPasswordVariable = "MDRELAY_NATS_PASSWORD";
constexpr const char* NatsTokenVariable = "MDRELAY_NATS_TOKEN";

struct BusOptions {
    std::vector<std::string> servers; // nats://HOST:PORT, any of the cluster
    std::string name;                 // the relay's name; default: host name
    std::string stream = "MD";
    std::string prefix = "md";
    std::string credsFile;            // a user credentials file (JWT and seed)
    std::string user;
    std::string passwordFile;
    std::string tokenFile;
    // Given in code (the Python reader), never by a flag: used as they are.
    std::string password;
    std::string token;
    std::string tlsCa;
    std::string tlsCert;
    std::string tlsKey;
    bool tls = false;
    bool sendAtOnce = false; // each message written as it is published
};

// "a,b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(const std::string& text);

bool ValidStreamName(const std::string& name);
// A client name the protocol can carry: no control characters (a line
// end would cut the connect command short).
bool ValidName(const std::string& name);

// The first line of a file, without its line end; false with a message.
bool ReadSecretFile(const std::string& path, std::string& secret, std::string& error);

// The password (or token) to use: from the file when one is named, else
// from the environment variable; empty when neither gives one.
bool LoadSecret(const std::string& file, const char* variable, std::string& secret,
                std::string& error);

std::string DefaultRelayName();

template <class Options>
void AddBusFlags(std::vector<Flag<Options>>& t)
{
    t.push_back({"nats", "URL[,URL...]", "NATS servers to connect to (any of a cluster; the "
                 "client reconnects to any of them and to those the cluster announces)",
                 [](const std::string& v, Options& o) {
                     for (const std::string& s : SplitList(v))
                         o.bus.servers.push_back(s);
                     return !o.bus.servers.empty();
                 }});
    t.push_back({"stream", "NAME", "the JetStream stream (default MD)",
                 [](const std::string& v, Options& o) { o.bus.stream = v; return ValidStreamName(v); }});
    t.push_back({"prefix", "PREFIX", "first token(s) of every subject (default md)",
                 [](const std::string& v, Options& o) { o.bus.prefix = v; return true; }});
    t.push_back({"name", "NAME", "this process's name on the bus and in the records' headers "
                 "(default: the host name)",
                 [](const std::string& v, Options& o) { o.bus.name = v; return ValidName(v); }});
    t.push_back({"creds", "FILE", "NATS user credentials file",
                 [](const std::string& v, Options& o) { o.bus.credsFile = v; return !v.empty(); }});
    t.push_back({"nats-user", "NAME", "NATS user; the password comes from --nats-password-file "
                 "or MDRELAY_NATS_PASSWORD",
                 [](const std::string& v, Options& o) { o.bus.user = v; return !v.empty(); }});
    t.push_back({"nats-password-file", "FILE", "file whose first line is the NATS password",
                 [](const std::string& v, Options& o) { o.bus.passwordFile = v; return !v.empty(); }});
    t.push_back({"nats-token-file", "FILE", "file whose first line is a NATS token (else "
                 "MDRELAY_NATS_TOKEN, when set)",
                 [](const std::string& v, Options& o) { o.bus.tokenFile = v; return !v.empty(); }});
    t.push_back({"tls", nullptr, "require TLS (implied by the three flags below)",
                 [](const std::string&, Options& o) { return o.bus.tls = true; }});
    t.push_back({"tls-ca", "FILE", "certificates of the authorities to trust (PEM)",
                 [](const std::string& v, Options& o) { o.bus.tlsCa = v; return !v.empty(); }});
    t.push_back({"tls-cert", "FILE", "this client's certificate chain (PEM), with --tls-key",
                 [](const std::string& v, Options& o) { o.bus.tlsCert = v; return !v.empty(); }});
    t.push_back({"tls-key", "FILE", "this client's private key (PEM)",
                 [](const std::string& v, Options& o) { o.bus.tlsKey = v; return !v.empty(); }});
}

// Checks what the flags cannot check one by one; false with a message.
bool CheckBusOptions(BusOptions& o, std::string& error);

} // namespace mdrelay
