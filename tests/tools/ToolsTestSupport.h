// Pieces shared by the tools' unit tests.
#pragma once

#include "CliOptions.h"
#include "MdApi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace toolstest {

// Runs each test in a fresh temporary working directory of its own.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path dir_;

private:
    std::filesystem::path previousDir_;
};

// mdcli's options for a front on loopback, a user and a few instruments.
mdcli::CliOptions Options();

// A depth record with a price, its neighbours and a fixed update time.
CThostFtdcDepthMarketDataField Depth(const char* id, double last);

bool HasEvent(const std::vector<std::string>& events, const std::string& text);

} // namespace toolstest
