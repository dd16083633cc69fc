#include "NatsServers.h"

#include "BusClient.h"

#include <nats/nats.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

namespace relaytest {

bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms); // polling another process's state
    }
    return true;
}

std::string NatsServerPath(std::string& why)
{
    if (const char* path = std::getenv("PATH")) {
        std::string dirs = path;
        std::size_t start = 0;
        while (start <= dirs.size()) {
            const std::size_t end = dirs.find(':', start);
            const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
            const std::string candidate = (dir.empty() ? "." : dir) + "/nats-server";
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    why = "nats-server not found on PATH: install the Debian package nats-server "
          "(with MDLINK_REQUIRE_NATS=1 this is a failure)";
    return "";
}

bool NatsRequired()
{
    const char* v = std::getenv("MDLINK_REQUIRE_NATS");
    return v && std::string(v) == "1";
}

int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

NatsServer::NatsServer(std::string name, std::filesystem::path dir, std::string extra)
    : name_(std::move(name)), dir_(std::move(dir)), extra_(std::move(extra)), port_(FreePort())
{
    std::filesystem::create_directories(dir_ / name_);
}

void NatsServer::Cluster(int clusterPort, const std::vector<int>& routePorts)
{
    clusterPort_ = clusterPort;
    routes_ = routePorts;
}

std::string NatsServer::Url() const
{
    return "nats://127.0.0.1:" + std::to_string(port_);
}

std::string NatsServer::Config() const
{
    std::string c = "server_name: " + name_ + "\nlisten: 127.0.0.1:" + std::to_string(port_) +
        "\njetstream {\n  store_dir: \"" + (dir_ / name_ / "store").string() +
        "\"\n  max_memory_store: 268435456\n  max_file_store: 1073741824\n}\n";
    if (clusterPort_ > 0) {
        c += "cluster {\n  name: mdtest\n  listen: 127.0.0.1:" + std::to_string(clusterPort_) +
            "\n  routes: [";
        for (std::size_t i = 0; i < routes_.size(); ++i)
            c += (i ? ", " : "") + std::string("nats-route://127.0.0.1:") + std::to_string(routes_[i]);
        c += "]\n}\n";
    }
    return c + extra_;
}

bool NatsServer::Start()
{
    std::string why;
    const std::string program = NatsServerPath(why);
    const std::filesystem::path conf = dir_ / name_ / "server.conf";
    std::ofstream(conf) << Config();
    const std::string log = (dir_ / name_ / ("run" + std::to_string(++starts_) + ".log")).string();
    if (program.empty() || !child_.Start({program, "-c", conf.string()}, log))
        return false;
    return Eventually(
               [&] {
                   return child_.Output().find("Server is ready") != std::string::npos || !child_.Running();
               },
               Patience) &&
        child_.Running();
}

void NatsServer::Kill()
{
    child_.Kill();
}

NatsCluster::NatsCluster(int n, const std::filesystem::path& dir, const std::string& extra)
{
    std::vector<int> clusterPorts;
    for (int i = 0; i < n; ++i) {
        nodes_.push_back(std::make_unique<NatsServer>("n" + std::to_string(i + 1), dir, extra));
        clusterPorts.push_back(n > 1 ? FreePort() : 0);
    }
    for (int i = 0; n > 1 && i < n; ++i) {
        std::vector<int> others;
        for (int j = 0; j < n; ++j)
            if (j != i)
                others.push_back(clusterPorts[j]);
        nodes_[i]->Cluster(clusterPorts[i], others);
    }
}

bool NatsCluster::Start()
{
    for (auto& node : nodes_)
        if (!node->Start())
            return false;
    return WaitJetStream();
}

bool NatsCluster::WaitJetStream()
{
    // Ready once JetStream can place a stream with a copy on every node (a
    // cluster has its leader and knows its peers), made and deleted here.
    const int replicas = static_cast<int>(nodes_.size());
    return Eventually(
        [&] {
            natsConnection* nc = nullptr;
            natsOptions* opts = ClientOptions(Urls());
            natsOptions_SetMaxReconnect(opts, 0);
            if (!user_.empty())
                natsOptions_SetUserInfo(opts, user_.c_str(), password_.c_str());
            bool ok = false;
            if (natsConnection_Connect(&nc, opts) == NATS_OK) {
                jsCtx* js = nullptr;
                jsStreamConfig cfg;
                jsStreamConfig_Init(&cfg);
                cfg.Name = "READY";
                const char* subjects[] = {"ready.check"};
                cfg.Subjects = subjects;
                cfg.SubjectsLen = 1;
                cfg.Storage = js_MemoryStorage;
                cfg.Replicas = replicas;
                if (natsConnection_JetStream(&js, nc, nullptr) == NATS_OK &&
                    js_AddStream(nullptr, js, &cfg, nullptr, nullptr) == NATS_OK)
                    ok = js_DeleteStream(js, "READY", nullptr, nullptr) == NATS_OK;
                jsCtx_Destroy(js);
                natsConnection_Destroy(nc);
            }
            natsOptions_Destroy(opts);
            return ok;
        },
        Patience);
}

std::string NatsCluster::Urls() const
{
    std::string urls;
    for (const auto& node : nodes_)
        urls += (urls.empty() ? "" : ",") + node->Url();
    return urls;
}

NatsServer& NatsCluster::Node(const std::string& name)
{
    for (auto& node : nodes_)
        if (node->Name() == name)
            return *node;
    throw std::runtime_error("no node " + name);
}

} // namespace relaytest
