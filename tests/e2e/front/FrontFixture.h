// Each test runs in its own temporary working directory with its own front.
#pragma once

#include "FrontServer.h"
#include "FrontTestClient.h"
#include "ToolsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace fronttest {

class FrontFixture : public toolstest::TempDirTest {
protected:
    void TearDown() override;

    // A config with a small known instrument list and a quick rate.
    static mdfront::FrontConfig BaseConfig();
    std::uint16_t StartFront(const mdfront::FrontConfig& config);
    // Connects, logs in as "alice" and checks the answer.
    std::unique_ptr<FrontTestClient> LoggedInClient();

    std::unique_ptr<mdfront::FrontServer> front_;
    std::uint16_t port_ = 0;
};

// The RspInfo at `offset` of a body: error id and text.
int ErrorIdAt(const Bytes& body, std::size_t offset);
std::string ErrorTextAt(const Bytes& body, std::size_t offset);
std::string TextAt(const Bytes& body, std::size_t offset, std::size_t width);

} // namespace fronttest
