#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "exit_status.h"

namespace textjob {

const char* programVersion() {
    return TEXTJOB_VERSION;
}

std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& exitStatus) {
    CommandLine line;
    CLI::App app{
        "textjob runs jobs of text file steps: a source reads a file, the steps after it write\n"
        "delimited, fixed-width or HTML files. Jobs are JSON files:\n"
        "  {\"steps\": [{\"type\": \"SOURCE_DELIMTEXT\", \"name\": \"in\", \"properties\": "
        "{...}}, ...]}\n"
        "Exit status: 0 the job ran to the end of its data; 1 a step failed; 2 a bad command\n"
        "line, job file or plug-in (nothing ran); 130 stopped by Ctrl-C, 143 by SIGTERM,\n"
        "129 by SIGHUP.",
        "textjob"};
    app.require_subcommand(1);
    app.fallthrough();  // --plugin may also follow the subcommand
    app.set_version_flag("-V,--version", std::string("textjob ") + programVersion());
    app.add_option("--plugin", line.pluginPath,
                   "Plug-in library (default: $TEXT_PLUGIN_PATH, else ../lib/libtext.so)");

    CLI::App* run = app.add_subcommand("run", "Run a job file");
    run->add_option("job", line.jobPath,
                    "Job file (JSON); its relative paths start from its folder")
        ->required();
    run->add_flag("-n,--dry-run", line.dryRun,
                  "Read and pass every row through, counting them, but write no files");
    run->add_flag("-q,--quiet", line.quiet,
                  "Print errors and warnings only: no progress, no summary");
    run->add_flag("--strict", line.strict,
                  "Fail the run (exit status 1) when a value could not be kept as read: a text "
                  "its field's type cannot read, a text cut at MAX_LENGTH or WIDTH, text "
                  "dropped after a NUL, a row's extra fields, text after a closing quote, a "
                  "value written so that the file cannot give it back");
    run->add_flag("--in-place", line.inPlace,
                  "Write each destination's file straight in place (for readers that follow "
                  "it), not under a temporary name renamed into place when the step finishes; "
                  "sets IN_PLACE true in every destination");
    run->add_option("-t,--threads", line.threads,
                    "1 runs every step in one thread; 0 (the default) runs each step of a job "
                    "of two steps or more in a thread of its own when the machine has more "
                    "than one core; 2 or more does so on any machine")
        ->check(CLI::NonNegativeNumber);
    run->add_option("-s,--set", line.overrides,
                    "Override a single-valued property: STEP.PROPERTY=VALUE (repeatable). STEP "
                    "is the step's \"name\", or its type when it has none; VALUE is read as a "
                    "JSON number, true, false or null when it is one, else as text")
        ->take_all()
        ->allow_extra_args(false);
    run->add_option("--part", line.part,
                    "Run part K (0-based) of N of the job, K/N (default: $TEXTJOB_PART): each "
                    "source reads only its part of the data and each destination writes a file "
                    "of its own (out.part-0003-of-0016.csv); the parts' files joined in order "
                    "hold the whole job's output. \"auto\" takes K/N from a Slurm job array "
                    "(SLURM_ARRAY_TASK_ID, SLURM_ARRAY_TASK_COUNT) or a Kubernetes indexed job "
                    "(JOB_COMPLETION_INDEX, with --parts N)");
    run->add_option("--parts", line.partCount,
                    "The number of parts N for --part auto (needed with JOB_COMPLETION_INDEX)")
        ->check(CLI::PositiveNumber);

    CLI::App* steps = app.add_subcommand("steps", "List the step types that jobs can use");
    CLI::App* describe =
        app.add_subcommand("describe", "Show a step type's properties, defaults and table columns");
    describe->add_option("type", line.stepType, "Step type id, e.g. SOURCE_DELIMTEXT")->required();

    CLI::App* infer = app.add_subcommand(
        "infer", "Detect a text file's encoding, dialect, header and column types; write a job");
    infer->add_option("file", line.inferFile, "The delimited or fixed-width text file")->required();
    infer->add_option("--to", line.inferTo, "What the job writes: csv (default), fixed, html, none")
        ->check(CLI::IsMember({"csv", "fixed", "html", "none"}));
    infer->add_flag("--text", line.inferText, "Read every column as a string");
    infer
        ->add_option("--types", line.inferTypes,
                     "exact (default): a type only where every value is written back as it "
                     "stands; loose: wherever every value reads without loss of the value")
        ->check(CLI::IsMember({"exact", "loose"}));
    CLI::Option* header = infer
                              ->add_option("--header", line.inferHeaderLine,
                                           "The header is line N (from 1); lines above it are "
                                           "skipped")
                              ->check(CLI::PositiveNumber);
    infer->add_flag("--no-header", line.inferNoHeader, "The file has no header line")
        ->excludes(header);
    infer->add_flag("--fixed", line.inferFixed, "The file is fixed-width text");
    infer->add_option("--sample-bytes", line.inferSampleBytes,
                      "Read about this many bytes of the file (default: all of it)");
    infer->add_option("-o,--output", line.inferJobPath,
                      "Write the job to this file (default: standard output)");

    CLI::App* parts = app.add_subcommand(
        "parts", "Show what each part of a job split into N parts reads, without reading data");
    parts->add_option("job", line.jobPath, "Job file (JSON)")->required();
    parts->add_option("count", line.partCount, "The number of parts N")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        exitStatus = status == 0 ? kExitOk : kExitBadJob;
        return std::nullopt;
    } catch (const CLI::Error& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        exitStatus = kExitBadJob;
        return std::nullopt;
    }
    if (steps->parsed()) {
        line.command = CommandLine::Command::Steps;
    } else if (describe->parsed()) {
        line.command = CommandLine::Command::Describe;
    } else if (infer->parsed()) {
        line.command = CommandLine::Command::Infer;
    } else if (parts->parsed()) {
        line.command = CommandLine::Command::Parts;
    } else {
        line.command = CommandLine::Command::Run;
    }
    return line;
}

}  // namespace textjob
