// The tools' command lines on CLI11, all alike: "--name value" or
// "--name=value", flags applied in the order given, a value refused with
// "bad value 'V' for --NAME", help texts wrapped beside their flags.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace mdtools {

// Makes the app's own --help flag and layout ours; call before adding flags.
void PrepareCommandLine(CLI::App& app);

// A flag taking a value named valueName (e.g. "FILE"), applied at each use;
// apply returns false to refuse the value (or throws CLI::ValidationError
// with a message of its own).
CLI::Option* AddValueFlag(CLI::App& app, const std::string& name, const std::string& valueName,
                          const std::string& help, std::function<bool(const std::string&)> apply);

// A switch: no value.
CLI::Option* AddSwitch(CLI::App& app, const std::string& name, const std::string& help,
                       std::function<void()> set);
// A switch that may be refused (set returns false): "bad value '' for
// --NAME", as a refused value says.
CLI::Option* AddCheckedSwitch(CLI::App& app, const std::string& name, const std::string& help,
                              std::function<bool()> set);

// Parses the arguments after the program name; false with a message.
bool ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string& error);

// One entry per flag, under "flags:", in the order they were added.
std::string FlagsHelp(const CLI::App& app);

// Every flag's name, without the leading dashes.
std::vector<std::string> FlagNames(const CLI::App& app);

// "a,b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(const std::string& text);

} // namespace mdtools
