// mdrelay's bus flags, the same in both modes: how to reach the bus
// (BusOptions), as flags of its command-line table.
#pragma once

#include "BusOptions.h"
#include "Flags.h"

#include <string>
#include <vector>

namespace mdrelay {

// "a,b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(const std::string& text);

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

} // namespace mdrelay
