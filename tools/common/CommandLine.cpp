#include "CommandLine.h"

#include <algorithm>
#include <sstream>

namespace mdtools {

namespace {

constexpr std::size_t HelpColumn = 30;
constexpr std::size_t LineWidth = 79;

// The help text in lines that end before LineWidth; CLI11 indents each
// line after the first to the help column.
std::string Wrap(const std::string& text)
{
    std::string out;
    std::size_t line = 0;
    std::stringstream words(text);
    std::string word;
    while (words >> word) {
        if (line > 0 && line + 1 + word.size() > LineWidth - HelpColumn) {
            out += '\n';
            line = 0;
        } else if (line > 0) {
            out += ' ';
            ++line;
        }
        out += word;
        line += word.size();
    }
    return out;
}

} // namespace

void PrepareCommandLine(CLI::App& app)
{
    app.set_help_flag(); // --help is a flag of ours: the caller prints its own text
    app.get_formatter()->column_width(HelpColumn);
    app.option_defaults()->group("flags");
}

CLI::Option* AddValueFlag(CLI::App& app, const std::string& name, const std::string& valueName,
                          const std::string& help, std::function<bool(const std::string&)> apply)
{
    CLI::Option* option = app.add_option(
        "--" + name,
        [name, apply](const CLI::results_t& values) {
            for (const std::string& v : values)
                if (!apply(v))
                    throw CLI::ValidationError("bad value '" + v + "' for --" + name);
            return true;
        },
        Wrap(help));
    // Each use applied as it is met, so that later flags see earlier ones.
    option->type_name(valueName)->type_size(1)->expected(1)->allow_extra_args(false);
    option->trigger_on_parse();
    return option;
}

CLI::Option* AddSwitch(CLI::App& app, const std::string& name, const std::string& help,
                       std::function<void()> set)
{
    return app.add_flag_callback("--" + name, std::move(set), Wrap(help))->trigger_on_parse();
}

CLI::Option* AddCheckedSwitch(CLI::App& app, const std::string& name, const std::string& help,
                              std::function<bool()> set)
{
    return AddSwitch(app, name, help, std::function<void()>([name, set] {
                         if (!set())
                             throw CLI::ValidationError("bad value '' for --" + name);
                     }));
}

bool ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string& error)
{
    // CLI11 takes them last first; "--name=" is an empty value, as "--name ''".
    std::vector<std::string> reversed;
    for (const std::string& a : args) {
        if (a.size() > 3 && a.rfind("--", 0) == 0 && a.back() == '=' && a.find('=') == a.size() - 1) {
            reversed.push_back(a.substr(0, a.size() - 1));
            reversed.push_back(std::string());
        } else {
            reversed.push_back(a);
        }
    }
    std::reverse(reversed.begin(), reversed.end());
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extra = app.remaining();
        const std::string first = extra.empty() ? std::string() : extra.front();
        if (first.rfind("--", 0) == 0)
            error = "unknown flag " + first.substr(0, first.find('='));
        else
            error = "unexpected argument '" + first + "'";
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    return true;
}

std::string FlagsHelp(const CLI::App& app)
{
    const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
    if (!formatter)
        return std::string();
    std::string text = formatter->make_groups(&app, CLI::AppFormatMode::Normal);
    // CLI11 starts the group with a blank line.
    return text.rfind('\n', 0) == 0 ? text.substr(1) : text;
}

std::vector<std::string> FlagNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* o : app.get_options())
        names.push_back(o->get_name().substr(2));
    return names;
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

} // namespace mdtools
