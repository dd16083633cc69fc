#include "BusFlags.h"

namespace mdrelay {

using mdtools::AddSwitch;
using mdtools::AddValueFlag;

void AddBusFlags(CLI::App& app, BusOptions& b)
{
    AddValueFlag(app, "nats", "URL[,URL...]",
                 "NATS servers to connect to (any of a cluster; the "
                 "client reconnects to any of them and to those the cluster announces)",
                 [&b](const std::string& v) {
                     for (const std::string& s : mdtools::SplitList(v))
                         b.servers.push_back(s);
                     return !b.servers.empty();
                 });
    AddValueFlag(app, "stream", "NAME", "the JetStream stream (default MD)", [&b](const std::string& v) {
        b.stream = v;
        return ValidStreamName(v);
    });
    AddValueFlag(app, "prefix", "PREFIX", "first token(s) of every subject (default md)",
                 [&b](const std::string& v) {
                     b.prefix = v;
                     return true;
                 });
    AddValueFlag(app, "name", "NAME",
                 "this process's name on the bus and in the records' headers "
                 "(default: the host name)",
                 [&b](const std::string& v) {
                     b.name = v;
                     return ValidName(v);
                 });
    AddValueFlag(app, "creds", "FILE", "NATS user credentials file", [&b](const std::string& v) {
        b.credsFile = v;
        return !v.empty();
    });
    AddValueFlag(app, "nats-user", "NAME",
                 "NATS user; the password comes from "
                 "--nats-password-file or MDRELAY_NATS_PASSWORD",
                 [&b](const std::string& v) {
                     b.user = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "nats-password-file", "FILE", "file whose first line is the NATS password",
                 [&b](const std::string& v) {
                     b.passwordFile = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "nats-token-file", "FILE",
                 "file whose first line is a NATS token (else "
                 "MDRELAY_NATS_TOKEN, when set)",
                 [&b](const std::string& v) {
                     b.tokenFile = v;
                     return !v.empty();
                 });
    AddSwitch(app, "tls", "require TLS (implied by the three flags below)", [&b] { b.tls = true; });
    AddValueFlag(app, "tls-ca", "FILE", "certificates of the authorities to trust (PEM)",
                 [&b](const std::string& v) {
                     b.tlsCa = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "tls-cert", "FILE", "this client's certificate chain (PEM), with --tls-key",
                 [&b](const std::string& v) {
                     b.tlsCert = v;
                     return !v.empty();
                 });
    AddValueFlag(app, "tls-key", "FILE", "this client's private key (PEM)", [&b](const std::string& v) {
        b.tlsKey = v;
        return !v.empty();
    });
}

} // namespace mdrelay
