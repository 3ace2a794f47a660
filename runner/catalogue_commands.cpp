#include <cstdio>
#include <string>

#include "exit_status.h"
#include "job_schema.h"
#include "run_command.h"
#include "texthost/describe.h"

namespace textjob {
namespace {

std::string defaultText(const MvbDatavar& value) {
    if (value.isNull()) return "-";
    const std::string text(value.asString().view());
    return value.getType() == mvbTypeString ? "\"" + text + "\"" : text;
}

texthost::RunOptions optionsFor(const CommandLine& line) {
    texthost::RunOptions options;
    options.pluginPath = line.pluginPath;
    return options;
}

/// Every step type's description; false after saying why on standard error.
bool describeAll(const CommandLine& line, std::vector<texthost::StepDescription>& all) {
    try {
        all = texthost::describeStepTypes(optionsFor(line));
        return true;
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return false;
    }
}

/// Every step type that can be described, each one that cannot said on standard error (a
/// plug-in with one faulty type still lists the others); false when one could not.
bool describeEach(const CommandLine& line, std::vector<texthost::StepDescription>& all) {
    std::vector<texthost::HostStepType> types;
    try {
        types = texthost::listStepTypes(optionsFor(line));
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return false;
    }
    bool every = true;
    for (const texthost::HostStepType& type : types) {
        try {
            all.push_back(texthost::describeStepType(type.typeId, optionsFor(line)));
        } catch (const texthost::JobError& e) {
            std::fprintf(stderr, "error: %s\n", e.what());
            every = false;
        }
    }
    return every;
}

}  // namespace

int stepsCommand(const CommandLine& line) {
    std::vector<texthost::StepDescription> all;
    const bool every = describeEach(line, all);
    if (all.empty()) return kExitBadJob;
    if (line.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const texthost::StepDescription& d : all)
            list.push_back(stepJson(d));
        std::printf("%s\n", list.dump(2).c_str());
        return every ? kExitOk : kExitBadJob;
    }
    std::printf("%-18s %-12s %-6s %-7s %s\n", "TYPE", "ROLE", "INPUTS", "OUTPUTS", "DESCRIPTION");
    for (const texthost::StepDescription& d : all) {
        std::printf("%-18s %-12s %-6d %-7d %s\n", d.typeId.c_str(), stepRole(d).c_str(), d.inputs,
                    d.outputs, d.description.c_str());
    }
    std::printf(
        "\nA job begins with a source; every later step reads the rows of the step before it.\n"
        "A destination writes them to its file and passes them on; a transform passes on rows\n"
        "of its own.\n"
        "textjob describe TYPE lists a type's properties.\n");
    // A type that could not be described was said on standard error; the list has the rest.
    return every ? kExitOk : kExitBadJob;
}

int describeCommand(const CommandLine& line) {
    texthost::StepDescription d;
    try {
        d = texthost::describeStepType(line.stepType, optionsFor(line));
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    if (line.json) {
        std::printf("%s\n", stepJson(d).dump(2).c_str());
        return kExitOk;
    }
    std::printf("%s: %s\n", d.typeId.c_str(), d.description.c_str());
    std::printf("Role: %s (%d input%s, %d output%s)\n", stepRole(d).c_str(), d.inputs,
                d.inputs == 1 ? "" : "s", d.outputs, d.outputs == 1 ? "" : "s");
    if (d.properties.empty()) {
        std::printf("Properties: none\n");
        return kExitOk;
    }
    std::printf("\n%-5s %-22s %-8s %-12s %s\n", "INDEX", "PROPERTY", "TYPE", "DEFAULT",
                "DESCRIPTION");
    bool unnoted = false;
    for (const texthost::PropertyDescription& p : d.properties) {
        const std::string type = p.isTable ? "table" : texthost::typeName(p.type);
        // The step's own note says what it really uses; without one, the declared default.
        std::string shown = p.effectiveDefault;
        if (shown.empty()) {
            shown = p.isTable ? "-" : defaultText(p.defaultValue);
            unnoted = unnoted || shown == "-";
        }
        char line[128];
        std::snprintf(line, sizeof line, "%-5d %-22s %-8s %-12s ", p.index, p.name.c_str(),
                      type.c_str(), shown.c_str());
        std::string text = line + p.summary;
        text.erase(text.find_last_not_of(' ') + 1);
        std::printf("%s\n", text.c_str());
        if (!p.fileRole.empty()) std::printf("      names a %s\n", p.fileRole.c_str());
        if (!p.isTable) continue;
        std::string columns;
        for (size_t c = 0; c < p.columns.size(); ++c) {
            if (c > 0) columns += ", ";
            columns += p.columns[c].name + " (" + texthost::typeName(p.columns[c].type) + ")";
        }
        std::printf("      columns: %s\n", columns.empty() ? "(none)" : columns.c_str());
    }
    for (const std::string& extra : d.extraFiles)
        std::printf("\nAlso writes %s.\n", extra.c_str());
    if (unnoted) {
        std::printf(
            "\nA property without a default (-) reads as empty, 0 or false when a job leaves "
            "it out.\n");
    }
    return kExitOk;
}

int schemaCommand(const CommandLine& line) {
    std::vector<texthost::StepDescription> all;
    if (!describeAll(line, all)) return kExitBadJob;
    std::printf("%s\n", jobSchema(all).dump(2).c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitStepFailed;
}

}  // namespace textjob
