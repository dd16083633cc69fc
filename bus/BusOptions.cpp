#include "BusOptions.h"

#include "Subjects.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace mdrelay {

bool ValidStreamName(const std::string& name)
{
    // The server refuses names with these: they would be tokens of its API subjects.
    return !name.empty() && name.size() <= 255 && name.find_first_of(" .*>/\\\t\r\n") == std::string::npos;
}

bool ValidName(const std::string& name)
{
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return !name.empty();
}

bool ReadSecretFile(const std::string& path, std::string& secret, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::getline(in, secret);
    if (!secret.empty() && secret.back() == '\r')
        secret.pop_back();
    return true;
}

bool LoadSecret(const std::string& file, const char* variable, std::string& secret, std::string& error)
{
    secret.clear();
    if (!file.empty())
        return ReadSecretFile(file, secret, error);
    if (const char* v = std::getenv(variable))
        secret = v;
    return true;
}

std::string DefaultRelayName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        return "mdrelay";
    return host;
}

bool CheckBusOptions(BusOptions& o, std::string& error)
{
    if (o.servers.empty()) {
        error = "no --nats given";
        return false;
    }
    if (!ValidPrefix(o.prefix)) {
        error = "bad --prefix '" + o.prefix + "' (dot-separated tokens without spaces, '*' or '>')";
        return false;
    }
    if (o.tlsCert.empty() != o.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    if (!o.passwordFile.empty() && o.user.empty()) {
        error = "--nats-password-file needs --nats-user";
        return false;
    }
    if (o.name.empty())
        o.name = DefaultRelayName();
    return true;
}

} // namespace mdrelay
