// Shell completion scripts and the manual page, both made from the command line's own
// declarations and the step catalogue, so that neither can fall behind the program.

#include <algorithm>
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

/// An option's names as a shell sees them: "-n", "--dry-run".
std::vector<std::string> namesOf(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const std::string& name : option.get_snames())
        names.push_back("-" + name);
    for (const std::string& name : option.get_lnames())
        names.push_back("--" + name);
    return names;
}

/// The names of all the options of `command`: "-n --dry-run ...".
std::vector<std::string> optionWords(const CLI::App& command) {
    std::vector<std::string> words;
    for (const CLI::Option* option : command.get_options()) {
        const std::vector<std::string> names = namesOf(*option);
        words.insert(words.end(), names.begin(), names.end());
    }
    return words;
}

/// The values an option takes when its check allows only a fixed few, in the check's own
/// order: CLI11 shows an IsMember check in the option's type name as "{a,b,c}", the text that
/// --help prints and that the check's refusal names. Empty for any other option.
std::vector<std::string> fixedValues(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    std::vector<std::string> values;
    for (std::size_t open = type.find('{'); open != std::string::npos;
         open = type.find('{', open + 1)) {
        const std::size_t close = type.find('}', open);
        if (close == std::string::npos) break;
        for (std::string& value : CLI::detail::split(type.substr(open + 1, close - open - 1), ','))
            if (!value.empty()) values.push_back(std::move(value));
    }
    return values;
}

/// Words offered for a free value that has a few usual spellings; the command checks it.
std::string suggestedValues(const CLI::Option& option) {
    return option.check_lname("delimiter") ? "tab , ; |" : "";
}

/// True for an option whose value is the next word; a flag expects none (its type still has a
/// size, of the bool it sets).
bool takesValue(const CLI::Option& option) {
    return !option.get_positional() && option.get_expected_max() != 0;
}

/// A case pattern matching "COMMAND OPTION" for each name of `option`; COMMAND is `command`,
/// or anything for the program's own options, which may also follow the subcommand.
std::string casePattern(const std::string& command, const CLI::Option& option) {
    std::vector<std::string> patterns;
    const std::string lead = command.empty() ? "*\" " : "\"" + command + " ";
    for (const std::string& name : namesOf(option))
        patterns.push_back(lead + name + "\"");
    return joined(patterns, "|");
}

std::string bashScript(const CLI::App& app, const Vocabulary& words) {
    std::string valued;  // options whose value is the next word
    std::string values;  // options with a fixed set of values
    auto addOption = [&](const std::string& command, const CLI::Option& option) {
        if (!takesValue(option)) return;
        valued += "                " + casePattern(command, option) + ") ((i++)) ;;\n";
        if (const std::vector<std::string> fixed = fixedValues(option); !fixed.empty())
            values += "        " + casePattern(command, option) + ") values=\"" + joined(fixed) +
                      "\" ;;\n";
    };
    for (const CLI::Option* option : app.get_options())
        addOption("", *option);
    std::string cases;
    for (const CLI::App* command : visibleSubcommands(app)) {
        const std::string& name = command->get_name();
        std::vector<std::string> extra = optionWords(*command);
        if (name == "describe")
            extra.insert(extra.end(), words.stepTypes.begin(), words.stepTypes.end());
        bool arguments = name == "describe";
        for (const CLI::Option* option : command->get_options()) {
            addOption(name, *option);
            if (!option->get_positional()) continue;
            const std::vector<std::string> fixed = fixedValues(*option);
            extra.insert(extra.end(), fixed.begin(), fixed.end());
            arguments = arguments || !fixed.empty();
        }
        cases += "        " + name + ") words=\"" + joined(extra) +
                 "\" arguments=" + (arguments ? "yes" : "") + " ;;\n";
    }
    return "# bash completion for textjob\n"
           "_textjob() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "    local command=\"\" job=\"\" i words arguments values=\"\"\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        if [[ ${COMP_WORDS[i]} == -* ]]; then\n"
           "            case \"$command ${COMP_WORDS[i]}\" in\n" +
           valued +
           "            esac\n"
           "        elif [[ -z $command ]]; then\n"
           "            command=\"${COMP_WORDS[i]}\"\n"
           "        elif [[ -z $job ]]; then\n"
           "            job=\"${COMP_WORDS[i]}\"\n"
           "        fi\n"
           "    done\n"
           "    case \"$command $prev\" in\n" +
           values +
           "    esac\n"
           "    if [[ -n $values ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$values\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case \"$prev\" in\n"
           "        -s|--set)\n"
           "            compopt -o nospace 2>/dev/null || true\n"
           "            COMPREPLY=()\n"
           "            if [[ $cur == *.* ]]; then\n"
           "                local property\n"
           "                for property in $(compgen -S = -W \"" +
           joined(words.properties) +
           "\" -- \"${cur##*.}\"); do\n"
           "                    COMPREPLY+=(\"${cur%.*}.$property\")\n"
           "                done\n"
           "            elif [[ -f $job ]]; then\n"
           "                # Step names as the shell must see them (\"two\\ words.\"), matched\n"
           "                # against the word as typed or, after an opening quote, as meant.\n"
           "                local name quoted bare=\"${cur#[\\\"\\']}\"\n"
           "                while IFS= read -r name; do\n"
           "                    quoted=\"$(printf '%q' \"$name\")\"\n"
           "                    if [[ $quoted == \"$cur\"* || $name == \"$bare\"* ]]; then\n"
           "                        COMPREPLY+=(\"$quoted.\")\n"
           "                    fi\n"
           "                done < <(grep -o '\"name\"[[:space:]]*:[[:space:]]*\"[^\"]*\"' "
           "\"$job\" |\n"
           "                    sed 's/.*\"\\([^\"]*\\)\"$/\\1/')\n"
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
           "        *) words=\"\" arguments= ;;\n"
           "    esac\n"
           "    if [[ $cur == -* || -n $arguments ]]; then\n"
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
    std::string valued;  // "COMMAND OPTION" patterns of options whose value is the next word
    auto addOption = [&valued](const std::string& command, const CLI::Option& option) {
        if (!takesValue(option)) return;
        for (const std::string& name : namesOf(option))
            valued += " '" + command + " " + name + "'";
    };
    for (const CLI::Option* option : app.get_options())
        addOption("*", *option);
    for (const CLI::App* command : visibleSubcommands(app)) {
        for (const CLI::Option* option : command->get_options())
            addOption(command->get_name(), *option);
    }
    std::string text =
        "# fish completion for textjob\n"
        "function __textjob_job\n"
        "    set -l words (commandline -opc)\n"
        "    set -e words[1]\n"
        "    set -l command\n"
        "    set -l skip\n"
        "    for word in $words\n"
        "        if set -q skip[1]\n"
        "            set -e skip[1]\n"
        "        else if string match -q -- '-*' $word\n"
        "            switch \"$command $word\"\n"
        "                case" +
        valued +
        "\n"
        "                    set skip 1\n"
        "            end\n"
        "        else if test -z \"$command\"\n"
        "            set command $word\n"
        "        else\n"
        "            echo $word\n"
        "            return\n"
        "        end\n"
        "    end\n"
        "end\n"
        "function __textjob_set_values\n"
        "    set -l token (commandline -ct)\n"
        "    set -l bare (string unescape -- \"$token\"); and set token \"$bare\"\n"
        "    if not string match -q '*.*' -- \"$token\"\n"
        "        set -l job (__textjob_job)\n"
        "        test -f \"$job\"; or return\n"
        "        string match -ra '\"name\"\\s*:\\s*\"[^\"]*\"' <\"$job\" |\n"
        "            string replace -r '^.*\"([^\"]*)\"$' '$1.'\n"
        "        return\n"
        "    end\n"
        "    set -l step (string replace -r '\\.[^.]*$' '' -- \"$token\")\n"
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
        std::vector<std::string> arguments;
        if (command->get_name() == "describe") arguments = words.stepTypes;
        for (const CLI::Option* option : command->get_options()) {
            const std::vector<std::string> fixed = fixedValues(*option);
            if (option->get_positional())
                arguments.insert(arguments.end(), fixed.begin(), fixed.end());
            if (option->get_lnames().empty()) continue;
            text += "complete -c textjob" + when + " -l " + option->get_lnames().front();
            if (!option->get_snames().empty()) text += " -s " + option->get_snames().front();
            if (option->get_lnames().front() == "set") {
                text += " -x -a '(__textjob_set_values)'";
            } else if (!fixed.empty()) {
                text += " -x -a " + fishQuoted(joined(fixed));
            } else if (const std::string suggested = suggestedValues(*option); !suggested.empty()) {
                text += " -x -a " + fishQuoted(suggested);
            } else if (takesValue(*option)) {
                text += " -r -F";
            }
            text += " -d " + fishQuoted(option->get_description().substr(0, 60)) + "\n";
        }
        if (!arguments.empty()) {
            text += "complete -c textjob" + when + " -a " + fishQuoted(joined(arguments)) + "\n";
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

/// Lines of text for roff: prose lines filled together, indented ones (examples) set as they
/// stand on lines of their own, not run into the prose around them.
std::string roffLines(const std::string& text) {
    std::string out;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = roff(text.substr(start, end - start));
        out += line.starts_with(' ') ? ".nf\n" + line + "\n.fi\n" : "\\&" + line + "\n";
        start = end + 1;
    }
    return out;
}

/// An option's names as the page shows them, "-n, --dry-run"; a positional's own name.
std::string manualName(const CLI::Option& option) {
    return roff(option.get_positional() ? option.get_name() : joined(namesOf(option), ", "));
}

std::string manualPage(const CLI::App& app) {
    std::string page = ".TH TEXTJOB 1 \"\" \"textjob " + std::string(programVersion()) +
                       "\" \"User Commands\"\n"
                       ".SH NAME\ntextjob \\- run jobs of text file steps; convert text files\n"
                       ".SH SYNOPSIS\n";
    for (const CLI::App* command : visibleSubcommands(app)) {
        // .RI sets its words in roman and italic by turns with nothing between them, so the
        // blanks are roman words of their own: [options] in out.
        std::string words = "[ options";
        bool arguments = false;
        for (const CLI::Option* option : command->get_options()) {
            if (!option->get_positional()) continue;
            words += (arguments ? " \" \" " : " \"] \" ") + roff(option->get_name());
            arguments = true;
        }
        if (!arguments) words += " ]";
        page += ".B textjob " + command->get_name() + "\n.RI " + words + "\n.br\n";
    }
    page += ".SH DESCRIPTION\n" + roffLines(app.get_description()) + ".SH COMMANDS\n";
    for (const CLI::App* command : visibleSubcommands(app)) {
        page += ".SS " + command->get_name() + "\n" + roff(command->get_description()) + "\n";
        for (const CLI::Option* option : command->get_options()) {
            if (option->get_name() == "--help") continue;
            page +=
                ".TP\n.B " + manualName(*option) + "\n" + roff(option->get_description()) + "\n";
        }
    }
    page += ".SH OPTIONS\n";
    for (const CLI::Option* option : app.get_options()) {
        page += ".TP\n.B " + manualName(*option) + "\n" + roff(option->get_description()) + "\n";
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
