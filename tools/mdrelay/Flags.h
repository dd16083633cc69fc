// A command line as a table of flags: each has a name, the name of its value
// (none for a switch), a help text and what it does to the options. Used by
// both of mdrelay's modes.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace mdrelay {

template <class Options>
struct Flag {
    const char* name;
    const char* value; // nullptr: a switch
    const char* help;
    std::function<bool(const std::string&, Options&)> apply;
};

// "--name value" or "--name=value"; false with a message for an unknown
// flag, a missing value, or a value apply refuses.
template <class Options>
bool ParseFlags(const std::vector<Flag<Options>>& table, const std::vector<std::string>& args,
                Options& out, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return false;
        }
        name = name.substr(2);
        std::string value;
        const auto eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Flag<Options>* flag = nullptr;
        for (const Flag<Options>& f : table)
            if (name == f.name)
                flag = &f;
        if (!flag) {
            error = "unknown flag --" + name;
            return false;
        }
        if (flag->value && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = "--" + name + " needs a value " + flag->value;
                return false;
            }
            value = args[++i];
        }
        if (!flag->apply(value, out)) {
            error = "bad value '" + value + "' for --" + name;
            return false;
        }
    }
    return true;
}

// One entry per flag, its help wrapped in a column.
template <class Options>
std::string FlagHelp(const std::vector<Flag<Options>>& table)
{
    constexpr std::size_t Column = 28;
    std::string text;
    for (const Flag<Options>& f : table) {
        std::string head = std::string("  --") + f.name + (f.value ? std::string(" ") + f.value : "");
        text += head + (head.size() < Column ? std::string(Column - head.size(), ' ')
                                             : "\n" + std::string(Column, ' '));
        std::stringstream words(f.help);
        std::string word;
        std::size_t line = 0;
        while (words >> word) {
            if (line > 0 && line + 1 + word.size() > 79 - Column) {
                text += "\n" + std::string(Column, ' ');
                line = 0;
            } else if (line > 0) {
                text += ' ';
                ++line;
            }
            text += word;
            line += word.size();
        }
        text += '\n';
    }
    return text;
}

} // namespace mdrelay
