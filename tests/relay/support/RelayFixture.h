// The fixture of the tests that run mdrelay against real servers: a
// directory of the test's own (the working directory of every program it
// starts), in-process fronts numbering their depth records, mdrelay in
// either mode as a child process, and reading its counters.
#pragma once

#include "BusClient.h"
#include "Child.h"
#include "FrontServer.h"
#include "NatsServers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace relaytest {

// In a test body: skips (or fails, when required) without nats-server.
#define REQUIRE_NATS_SERVER()                                                                                \
    do {                                                                                                     \
        std::string why_;                                                                                    \
        if (::relaytest::NatsServerPath(why_).empty()) {                                                     \
            if (::relaytest::NatsRequired())                                                                 \
                FAIL() << why_;                                                                              \
            GTEST_SKIP() << why_;                                                                            \
        }                                                                                                    \
    } while (0)

// The last counters line mdrelay printed, key by key ("received" -> N).
std::map<std::string, std::uint64_t> LastStatus(const std::string& output);

// Volumes of the depth rows of a CSV file mdrelay --read wrote.
std::vector<int> CsvVolumes(const std::filesystem::path& file);

// "" when numbers are 1, 2, ..., n in order with every one once; else what is wrong.
std::string Consecutive(const std::vector<int>& numbers);

// True in builds whose memory use a sanitizer inflates.
constexpr bool Sanitized()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Another front on loopback that numbers each connection's depth
    // records in their Volume, rate records a second for each of two
    // instruments, and sends for-quote notices every forQuoteMs to those
    // who ask. With sharedFeed, fronts serve identical records per
    // wall-clock slot instead, numbered by the slot.
    mdfront::FrontServer& StartFront(double rate, int forQuoteMs = 3000, bool sharedFeed = false);
    std::string FrontAddress(std::size_t front = 0) const;

    // mdrelay publishing the two instruments of the given front into
    // `urls`, with these flags added; its output goes to <name>.out.
    Child& StartRelay(const std::string& name, const std::string& urls,
                      const std::vector<std::string>& flags = {}, const std::vector<std::string>& env = {},
                      std::size_t front = 0);
    // SIGTERM, then its exit status (-1 if it outlived the patience).
    int StopRelay(Child& relay);

    // mdrelay --read with these flags (--quiet added), run to its end.
    int Read(const std::vector<std::string>& flags, std::string* output = nullptr);

    std::filesystem::path dir_;
    std::vector<std::unique_ptr<mdfront::FrontServer>> fronts_;
    std::vector<std::unique_ptr<Child>> relays_;

private:
    std::filesystem::path previousDir_;
    int reads_ = 0;
};

} // namespace relaytest
