// The tools as programs for the metrics tests: mdfront and mdcli started as
// children of the test (the relay's fixture starts mdrelay), each asked to
// serve its page on a port of its own choosing.
#pragma once

#include "RelayFixture.h"
#include "Scrape.h"

#include <string>
#include <vector>

namespace promtest {

using namespace relaytest;

class ToolProcesses : public RelayTest {
protected:
    struct Tool {
        Child* child = nullptr;
        unsigned short metrics = 0; // the page's port
        unsigned short port = 0;    // mdfront's front port
    };

    // mdfront --shared-feed at 50 records a second, these flags added.
    Tool StartFrontProgram(const std::string& name, const std::vector<std::string>& flags = {});
    // mdcli --quiet on these fronts, these flags added.
    Tool StartCli(const std::string& name, const std::vector<unsigned short>& fronts,
                  const std::vector<std::string>& flags);

    std::vector<std::unique_ptr<Child>> tools_;

private:
    Tool Started(const std::string& program, const std::string& tool, const std::vector<std::string>& argv,
                 const std::string& name);
};

} // namespace promtest
