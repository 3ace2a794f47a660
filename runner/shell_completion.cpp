// Shell completion scripts and the manual page, both made from the command line's own
// declarations and the step catalogue, so that neither can fall behind the program.

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "command_app.h"
#include "exit_status.h"
#include "run_command.h"
#include "texthost/describe.h"

namespace textjob {
namespace {

struct Vocabulary {
    std::vector<std::string> commands;
    std::vector<std::string> stepTypes;
    std::vector<std::string> properties;  ///< every property name of every step type, sorted
};

std::string joined(const std::vector<std::string>& words, const char* separator = " ") {
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty()) text += separator;
        text += word;
    }
    return text;
}

/// The option's names as a shell sees them: "-n --dry-run".
std::vector<std::string> optionWords(const CLI::App& command) {
    std::vector<std::string> words;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_snames())
            words.push_back("-" + name);
        for (const std::string& name : option->get_lnames())
            words.push_back("--" + name);
    }
    return words;
}

/// A value's completions, for options whose values are a fixed list.
std::string choicesOf(const std::string& option) {
    if (option == "--to") return "csv tsv fixed html none";
    if (option == "--types") return "text loose";
    if (option == "--delimiter") return "tab , ; |";
    return {};
}

std::string bashScript(const CLI::App& app, const Vocabulary& words) {
    std::string cases;
    for (const CLI::App* command : visibleSubcommands(app)) {
        std::vector<std::string> extra = optionWords(*command);
        if (command->get_name() == "describe")
            extra.insert(extra.end(), words.stepTypes.begin(), words.stepTypes.end());
        if (command->get_name() == "completion") extra.insert(extra.end(), {"bash", "zsh", "fish"});
        cases += "        " + command->get_name() + ") words=\"" + joined(extra) + "\" ;;\n";
    }
    return "# bash completion for textjob\n"
           "_textjob() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "    local command=\"\" job=\"\" i words\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \"${COMP_WORDS[i]}\" in\n"
           "            -*) ;;\n"
           "            *) if [[ -z $command ]]; then command=\"${COMP_WORDS[i]}\";\n"
           "               elif [[ -z $job ]]; then job=\"${COMP_WORDS[i]}\"; fi ;;\n"
           "        esac\n"
           "    done\n"
           "    case \"$prev\" in\n"
           "        --to) COMPREPLY=($(compgen -W \"" +
           choicesOf("--to") +
           "\" -- \"$cur\")); return ;;\n"
           "        --types) COMPREPLY=($(compgen -W \"" +
           choicesOf("--types") +
           "\" -- \"$cur\")); return ;;\n"
           "        -s|--set)\n"
           "            compopt -o nospace 2>/dev/null || true\n"
           "            if [[ $cur == *.* ]]; then\n"
           "                COMPREPLY=($(compgen -P \"${cur%.*}.\" -S = -W \"" +
           joined(words.properties) +
           "\" -- \"${cur##*.}\"))\n"
           "            elif [[ -f $job ]]; then\n"
           "                COMPREPLY=($(compgen -S . -W \"$(grep -o "
           "'\"name\"[[:space:]]*:[[:space:]]*\"[^\" ]*\"' \"$job\" | sed "
           "'s/.*\"\\([^\"]*\\)\"$/\\1/')\" -- \"$cur\"))\n"
           "            fi\n"
           "            return ;;\n"
           "    esac\n"
           "    if [[ -z $command ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           joined(words.commands) + " " + joined(optionWords(app)) +
           "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case \"$command\" in\n" +
           cases +
           "        *) words=\"\" ;;\n"
           "    esac\n"
           "    if [[ $cur == -* || $command == describe || $command == completion ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o bashdefault -o default -F _textjob textjob\n";
}

std::string fishQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c == '\n' ? ' ' : c;
    }
    return quoted + "'";
}

std::string fishScript(const CLI::App& app, const Vocabulary& words) {
    std::string text =
        "# fish completion for textjob\n"
        "function __textjob_set_values\n"
        "    set -l token (commandline -ct)\n"
        "    string match -q '*.*' -- $token; or return\n"
        "    set -l step (string replace -r '\\.[^.]*$' '' -- $token)\n"
        "    for property in " +
        joined(words.properties) +
        "\n"
        "        echo $step.$property=\n"
        "    end\n"
        "end\n"
        "complete -c textjob -f\n";
    for (const CLI::App* command : visibleSubcommands(app)) {
        text += "complete -c textjob -n __fish_use_subcommand -a " + command->get_name() + " -d " +
                fishQuoted(command->get_description()) + "\n";
        const std::string when = " -n '__fish_seen_subcommand_from " + command->get_name() + "'";
        for (const CLI::Option* option : command->get_options()) {
            if (option->get_lnames().empty()) continue;
            text += "complete -c textjob" + when + " -l " + option->get_lnames().front();
            if (!option->get_snames().empty()) text += " -s " + option->get_snames().front();
            const std::string choices = choicesOf("--" + option->get_lnames().front());
            if (option->get_lnames().front() == "set") {
                text += " -x -a '(__textjob_set_values)'";
            } else if (!choices.empty()) {
                text += " -x -a " + fishQuoted(choices);
            } else if (option->get_type_size_max() != 0) {
                text += " -r -F";
            }
            text += " -d " + fishQuoted(option->get_description().substr(0, 60)) + "\n";
        }
        if (command->get_name() == "describe") {
            text +=
                "complete -c textjob" + when + " -a " + fishQuoted(joined(words.stepTypes)) + "\n";
        } else if (command->get_name() == "completion") {
            text += "complete -c textjob" + when + " -a 'bash zsh fish'\n";
        } else if (command->get_name() != "steps" && command->get_name() != "schema") {
            text += "complete -c textjob" + when + " -F\n";
        }
    }
    return text;
}

/// Text for roff: backslashes escaped, hyphens as minus signs, no line starting with a dot.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        if (c == '\n') out += "\\&";
    }
    return out;
}

std::string manualPage(const CLI::App& app) {
    std::string page = ".TH TEXTJOB 1 \"\" \"textjob " + std::string(programVersion()) +
                       "\" \"User Commands\"\n"
                       ".SH NAME\ntextjob \\- run jobs of text file steps; convert text files\n"
                       ".SH SYNOPSIS\n";
    for (const CLI::App* command : visibleSubcommands(app)) {
        page += ".B textjob " + command->get_name() + "\n";
        std::string arguments;
        for (const CLI::Option* option : command->get_options()) {
            if (option->get_positional()) arguments += " " + option->get_name();
        }
        page += ".RI [ options ]" + roff(arguments) + "\n.br\n";
    }
    page += ".SH DESCRIPTION\n" + roff(app.get_description()) + "\n.SH COMMANDS\n";
    for (const CLI::App* command : visibleSubcommands(app)) {
        page += ".SS " + command->get_name() + "\n" + roff(command->get_description()) + "\n";
        for (const CLI::Option* option : command->get_options()) {
            if (option->get_name() == "--help") continue;
            page += ".TP\n.B " + roff(option->get_name(false, true)) + "\n" +
                    roff(option->get_description()) + "\n";
        }
    }
    page += ".SH OPTIONS\n";
    for (const CLI::Option* option : app.get_options()) {
        page += ".TP\n.B " + roff(option->get_name(false, true)) + "\n" +
                roff(option->get_description()) + "\n";
    }
    page +=
        ".SH EXAMPLES\n"
        ".nf\ntextjob convert sales.csv sales.tsv\n"
        "textjob convert people.csv picked.csv \\-\\-select id,name \\-\\-rename id=No\n"
        "textjob infer orders.csv \\-o orders.json && textjob run orders.json\n.fi\n"
        ".SH SEE ALSO\n"
        "textjob describe TYPE for a step type's properties; textjob schema for a JSON Schema "
        "of job files.\n";
    return page;
}

Vocabulary vocabulary(const CLI::App& app, const CommandLine& line) {
    Vocabulary words;
    for (const CLI::App* command : visibleSubcommands(app))
        words.commands.push_back(command->get_name());
    texthost::RunOptions options;
    options.pluginPath = line.pluginPath;
    std::set<std::string> properties;
    for (const texthost::StepDescription& d : texthost::describeStepTypes(options)) {
        words.stepTypes.push_back(d.typeId);
        for (const texthost::PropertyDescription& p : d.properties)
            if (!p.isTable) properties.insert(p.name);
    }
    words.properties.assign(properties.begin(), properties.end());
    return words;
}

}  // namespace

int completionCommand(const CommandLine& line) {
    CommandLine unused;
    CLI::App app{"", "textjob"};
    declareCommandLine(app, unused);
    Vocabulary words;
    try {
        words = vocabulary(app, line);
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    std::string script;
    if (line.shell == "fish") {
        script = fishScript(app, words);
    } else if (line.shell == "zsh") {
        // zsh runs the bash script through its own bash completion layer.
        script = "#compdef textjob\nautoload -U +X bashcompinit && bashcompinit\n" +
                 bashScript(app, words);
    } else {
        script = bashScript(app, words);
    }
    std::fputs(script.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitStepFailed;
}

int manualCommand(const CommandLine&) {
    CommandLine unused;
    CLI::App app{"", "textjob"};
    declareCommandLine(app, unused);
    std::fputs(manualPage(app).c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitStepFailed;
}

}  // namespace textjob
