#include "ToolProcesses.h"

#include <regex>

namespace promtest {

ToolProcesses::Tool ToolProcesses::Started(const std::string& program, const std::string& tool,
                                           const std::vector<std::string>& args, const std::string& name)
{
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    tools_.push_back(std::make_unique<Child>());
    Tool t;
    t.child = tools_.back().get();
    EXPECT_TRUE(t.child->Start(argv, (dir_ / (name + ".out")).string()));
    t.metrics = MetricsPort(*t.child, tool);
    return t;
}

ToolProcesses::Tool ToolProcesses::StartFrontProgram(const std::string& name,
                                                     const std::vector<std::string>& flags)
{
    std::vector<std::string> args = {"--port",        "0",         "--shared-feed",
                                     "--rate",        "50",        "--instruments",
                                     "au2612,IF2612", "--metrics", "127.0.0.1:0"};
    args.insert(args.end(), flags.begin(), flags.end());
    Tool t = Started(MDFRONT_PROGRAM, "mdfront", args, name);
    std::smatch m;
    const std::string out = t.child->Output();
    if (std::regex_search(out, m, std::regex("mdfront listening on [^ ]*:([0-9]+)")))
        t.port = static_cast<unsigned short>(std::stoi(m[1]));
    return t;
}

ToolProcesses::Tool ToolProcesses::StartCli(const std::string& name,
                                            const std::vector<unsigned short>& fronts,
                                            const std::vector<std::string>& flags)
{
    std::vector<std::string> args = {"--quiet", "--instruments", "au2612,IF2612", "--metrics", "127.0.0.1:0"};
    for (unsigned short port : fronts)
        args.insert(args.end(), {"--front", "tcp://127.0.0.1:" + std::to_string(port)});
    args.insert(args.end(), flags.begin(), flags.end());
    return Started(MDCLI_PROGRAM, "mdcli", args, name);
}

} // namespace promtest
