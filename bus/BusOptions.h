// How a client reaches the bus (mdrelay in both modes, the Python reader):
// the servers, the names and the credentials. Secrets never come from the
// command line: a password or token is read from a file, or from the
// environment.
#pragma once

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
    std::string credsFile; // a user credentials file (JWT and seed)
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

bool ValidStreamName(const std::string& name);
// A client name the protocol can carry: no control characters (a line
// end would cut the connect command short).
bool ValidName(const std::string& name);

// The first line of a file, without its line end; false with a message.
bool ReadSecretFile(const std::string& path, std::string& secret, std::string& error);

// The password (or token) to use: from the file when one is named, else
// from the environment variable; empty when neither gives one.
bool LoadSecret(const std::string& file, const char* variable, std::string& secret, std::string& error);

std::string DefaultRelayName();

// Checks what the flags cannot check one by one; false with a message.
bool CheckBusOptions(BusOptions& o, std::string& error);

} // namespace mdrelay
