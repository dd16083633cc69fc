#include "Scrape.h"

#include "NatsServers.h"
#include "ToolMetrics.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace relaytest {

unsigned short MetricsPort(Child& child, const std::string& tool)
{
    const std::regex serving(tool + " metrics on http://[^ ]*:([0-9]+)/metrics");
    unsigned short port = 0;
    Eventually([&] {
        std::smatch m;
        const std::string out = child.Output();
        if (std::regex_search(out, m, serving))
            port = static_cast<unsigned short>(std::stoi(m[1]));
        return port != 0 || !child.Running();
    });
    return port;
}

std::string Scrape(unsigned short port)
{
    std::string body;
    return mdtools::FetchPage(port, std::chrono::seconds(30), body) ? body : "";
}

double SeriesValue(const std::string& page, const std::string& series)
{
    std::istringstream in(page);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, series.size() + 1, series + " ") == 0)
            return std::strtod(line.c_str() + series.size() + 1, nullptr);
    return -1;
}

std::string PrometheusProgram(const char* name, std::string& why)
{
    const std::string path = std::string("/usr/bin/") + name;
    if (std::ifstream(path).good())
        return path;
    why = path + " not found (Debian package prometheus)";
    return "";
}

bool PrometheusRequired()
{
    const char* v = std::getenv("MDLINK_REQUIRE_PROMETHEUS");
    return v && std::string(v) == "1";
}

std::string PromtoolVerdict(const std::string& page, const std::string& file)
{
    std::string why;
    const std::string promtool = PrometheusProgram("promtool", why);
    if (promtool.empty() && PrometheusRequired())
        return why;
    if (promtool.empty()) {
        std::printf("%s: the page was not checked by it\n", why.c_str());
        return "";
    }
    std::ofstream(file, std::ios::binary) << page;
    // promtool reads the page on its standard input.
    const std::string command = promtool + " check metrics < " + file + " > " + file + ".promtool 2>&1";
    const int rc = std::system(command.c_str());
    if (rc == 0)
        return "";
    std::ifstream in(file + ".promtool");
    std::stringstream text;
    text << in.rdbuf();
    return "promtool: exit " + std::to_string(rc) + ": " + text.str();
}

} // namespace relaytest
