// Hints for usage errors: the subcommand or option a mistyped argument probably meant.

#include <algorithm>
#include <string_view>

#include "command_app.h"
#include "texthost/closest_name.h"

namespace textjob {
namespace {

void addLongNames(const CLI::App& command, std::vector<std::string>& names) {
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
    }
}

/// True when the option `name` ("--set") of `command` or the program takes a value, so that
/// the argument after it is that value.
bool takesValue(const CLI::App& app, const CLI::App* command, std::string_view name) {
    for (const CLI::App* in : {command, &app}) {
        if (in == nullptr) continue;
        for (const CLI::Option* option : in->get_options()) {
            // A flag expects no value, though its type (the bool it sets) has a size.
            if (option->check_name(std::string(name))) return option->get_expected_max() != 0;
        }
    }
    return false;
}

/// True when `name` ("-q") names an option of `command` or the program.
bool isOption(const CLI::App& app, const CLI::App* command, std::string_view name) {
    for (const CLI::App* in : {command, &app}) {
        if (in == nullptr) continue;
        for (const CLI::Option* option : in->get_options()) {
            if (option->check_name(std::string(name))) return true;
        }
    }
    return false;
}

}  // namespace

std::vector<const CLI::App*> visibleSubcommands(const CLI::App& app) {
    std::vector<const CLI::App*> visible;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        if (!command->get_group().empty()) visible.push_back(command);
    return visible;
}

std::vector<std::string> longOptionNames(const CLI::App& command) {
    std::vector<std::string> names;
    addLongNames(command, names);
    if (command.get_parent() != nullptr) addLongNames(*command.get_parent(), names);
    return names;
}

std::string usageHint(const CLI::App& app, int argc, const char* const* argv) {
    std::vector<std::string> commands;
    for (const CLI::App* command : visibleSubcommands(app))
        commands.push_back(command->get_name());
    const CLI::App* command = nullptr;
    bool names = false;  // after "--", every argument is a name
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            names = true;
            continue;
        }
        if (names) {
            // An option given after "--" is taken for a name, one more than the command takes.
            const std::string_view name = argument.substr(0, argument.find('='));
            if (name.size() > 1 && name[0] == '-' && isOption(app, command, name)) {
                return "; after -- every argument is a name, " + std::string(name) +
                       " too: put the options before --";
            }
            continue;
        }
        if (argument.size() > 2 && argument.substr(0, 2) == "--") {
            const std::string name(argument.substr(0, argument.find('=')));
            const std::vector<std::string> options =
                longOptionNames(command != nullptr ? *command : app);
            if (std::find(options.begin(), options.end(), name) == options.end()) {
                const std::string best = texthost::closestName(name, options);
                return best.empty() ? std::string() : "; did you mean " + best + "?";
            }
            if (argument.find('=') == std::string_view::npos && takesValue(app, command, name)) ++i;
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            if (argument.size() == 2 && takesValue(app, command, argument)) ++i;
            // A file named so ("-x.csv") is read as short options ("-x").
            if (argument.size() > 2 && command != nullptr &&
                !isOption(app, command, argument.substr(0, 2))) {
                return "; " + std::string(argument) +
                       " begins with '-' and was read as an option: to name a file so, put -- "
                       "before the names (textjob " +
                       command->get_name() + " -- " + std::string(argument) + " ...)";
            }
            continue;
        }
        if (command != nullptr) continue;  // an argument of the subcommand
        if (std::find(commands.begin(), commands.end(), argument) != commands.end()) {
            command = app.get_subcommand(std::string(argument));
            continue;
        }
        const std::string best = texthost::closestName(argument, commands);
        if (!best.empty()) return "; did you mean " + best + "?";
        std::string known;
        for (const std::string& name : commands)
            known += (known.empty() ? "" : ", ") + name;
        return "; \"" + std::string(argument) + "\" is no command (" + known + ")";
    }
    return {};
}

}  // namespace textjob
