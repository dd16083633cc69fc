// Real nats-server processes on loopback for the tests: one node, or a
// three-node JetStream cluster, each with its own store folder under the
// test's directory and ports chosen free when made. A node killed and
// started again keeps its ports and its store.
//
// nats-server comes from the Debian package nats-server. Without it the
// tests skip, saying so; with MDLINK_REQUIRE_NATS=1 in the environment (CI)
// they fail instead.
#pragma once

#include "Child.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relaytest {

using namespace std::chrono_literals;

// Every wait is bounded by this: sanitizer builds on two busy cores are slow.
constexpr std::chrono::milliseconds Patience = 90s;

// Polls an outside state (a stream, a process) until pred holds or limit.
bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit = Patience);

// The path of nats-server, or empty with the reason in why.
std::string NatsServerPath(std::string& why);
bool NatsRequired();

// A free loopback port (bound, then let go).
int FreePort();

class NatsServer {
public:
    // extra: more configuration text (an authorization block, say).
    NatsServer(std::string name, std::filesystem::path dir, std::string extra = "");

    // Joins a cluster: its cluster port and those of the other nodes.
    void Cluster(int clusterPort, const std::vector<int>& routePorts);

    // Writes the configuration, starts, and waits until it takes clients.
    bool Start();
    void Kill(); // SIGKILL: nothing flushed, as a crash
    bool Running() { return child_.Running(); }

    const std::string& Name() const { return name_; }
    std::string Url() const;
    int Port() const { return port_; }

private:
    std::string Config() const;

    std::string name_;
    std::filesystem::path dir_;
    std::string extra_;
    int port_;
    int clusterPort_ = 0;
    std::vector<int> routes_;
    int starts_ = 0;
    Child child_;
};

class NatsCluster {
public:
    // n nodes named n1..nN under dir; n == 1 makes a lone server.
    NatsCluster(int n, const std::filesystem::path& dir, const std::string& extra = "");

    // The login the cluster's own readiness check uses, when it wants one.
    void SetLogin(const std::string& user, const std::string& password)
    {
        user_ = user;
        password_ = password;
    }
    // Starts every node and waits until JetStream answers.
    bool Start();
    bool WaitJetStream();
    std::string Urls() const; // "nats://...,nats://..."
    NatsServer& Node(const std::string& name);
    std::vector<std::unique_ptr<NatsServer>>& Nodes() { return nodes_; }

private:
    std::vector<std::unique_ptr<NatsServer>> nodes_;
    std::string user_, password_;
};

} // namespace relaytest
