#include "command_line.h"

#include <cstdio>

#include "command_app.h"
#include "exit_status.h"

namespace textjob {
namespace {

/// --threads: a count that cannot be below 0, said in words.
std::string checkThreads(const std::string& text) {
    int value = 0;
    if (CLI::detail::lexical_cast(text, value) && value >= 0) return {};
    return text +
           " is not a thread count: give 0 (one thread per step when the machine has "
           "more than one core), 1 (every step in one thread) or a whole number from 2 "
           "up (a thread per step on any machine)";
}

/// --header and --parts: a whole number from 1, said in words.
CLI::Validator countFromOne(const char* what) {
    return CLI::Validator(
        [what](std::string& text) -> std::string {
            int value = 0;
            if (CLI::detail::lexical_cast(text, value) && value >= 1) return {};
            return text + " is not " + what + ": give a whole number from 1 up";
        },
        "POSITIVE");
}

void declareRun(CLI::App& app, CommandLine& line) {
    CLI::App* run = app.add_subcommand("run", "Run a job file");
    run->add_option("job", line.jobPath,
                    "Job file (JSON); its relative paths start from its folder. - reads the job "
                    "from standard input, its paths from the current folder")
        ->required();
    run->add_flag("-n,--dry-run", line.dryRun,
                  "Read and pass every row through, counting them, but write no files");
    run->add_flag("-q,--quiet", line.quiet,
                  "Print errors and warnings only: no progress, no summary");
    run->add_flag("--strict", line.strict,
                  "Stop and fail the run (exit status 1, files a destination replaces left as "
                  "they were) at the first value that could not be kept as read: a text "
                  "its field's type cannot read, a text cut at MAX_LENGTH or WIDTH, text "
                  "dropped after a NUL, a row's extra fields, text after a closing quote, a "
                  "value written so that the file cannot give it back");
    run->add_flag("--in-place", line.inPlace,
                  "Write each destination's file straight in place (for readers that follow "
                  "it), not under a temporary name renamed into place when the step finishes; "
                  "sets IN_PLACE true in every destination");
    run->add_option("-t,--threads", line.threads,
                    "The most threads a job of two steps or more runs in: each step in a "
                    "thread of its own while there are threads enough, neighbouring steps "
                    "sharing one otherwise; 1 runs every step in one thread; 0 (the default) "
                    "takes one per core the process may use (its CPU affinity and cgroup quota)")
        ->check(CLI::Validator(checkThreads, "N", "thread count"));
    run->add_option("-s,--set", line.overrides,
                    "Override a single-valued property: STEP.PROPERTY=VALUE (repeatable). STEP "
                    "is the step's \"name\", or its type when it has none; VALUE is read as a "
                    "JSON number, true, false or null when it is one, else as text; a DELIMITER "
                    "of \\t or tab is a tab")
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
        ->check(countFromOne("a number of parts"));
}

void declareCatalogue(CLI::App& app, CommandLine& line) {
    CLI::App* steps = app.add_subcommand("steps", "List the step types that jobs can use");
    steps->add_flag("--json", line.json, "Print the list as JSON, for scripts");
    CLI::App* describe =
        app.add_subcommand("describe", "Show a step type's properties, defaults and table columns");
    describe->add_option("type", line.stepType, "Step type id, e.g. SOURCE_DELIMTEXT")->required();
    describe->add_flag("--json", line.json, "Print the description as JSON, for scripts");
    app.add_subcommand("schema",
                       "Print a JSON Schema of job files, for editors: textjob schema > "
                       "textjob.schema.json");
    CLI::App* completion = app.add_subcommand(
        "completion", "Print a shell completion script: textjob completion bash > FILE");
    completion->add_option("shell", line.shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));
    // The build writes the manual page with it; users read the page itself.
    app.add_subcommand("manual", "Print the manual page (roff)")->group("");
}

void declareInfer(CLI::App& app, CommandLine& line) {
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
                              ->check(countFromOne("a line number (lines count from 1)"));
    infer
        ->add_flag("--no-header", line.inferNoHeader,
                   "The file has no header line: every line is data")
        ->excludes(header);
    CLI::Option* fixed =
        infer->add_flag("--fixed", line.inferFixed, "The file is fixed-width text");
    infer
        ->add_option("--delimiter", line.inferDelimiter,
                     "The file's delimiter, where detection does not tell it: one character, "
                     "\\t or tab, or a 0x code")
        ->excludes(fixed);
    infer->add_option("--encoding", line.inferEncoding,
                      "The file's encoding, a name or number (Shift_JIS, 936, ...), where "
                      "detection cannot tell it: UTF-8 and UTF-16 or UTF-32 with a mark or "
                      "NULs are told; any other is a guess");
    infer->add_option("--sample-bytes", line.inferSampleBytes,
                      "Read about this many bytes of the file (default: all of it)");
    infer->add_option("-o,--output", line.inferJobPath,
                      "Write the job to this file (default: standard output)");
}

void declareParts(CLI::App& app, CommandLine& line) {
    CLI::App* parts = app.add_subcommand(
        "parts", "Show what each part of a job split into N parts reads, without reading data");
    parts->add_option("job", line.jobPath, "Job file (JSON)")->required();
    parts->add_option("count", line.partCount, "The number of parts N")->required();
}

void declareConvert(CLI::App& app, CommandLine& line) {
    ConvertRequest& c = line.convert;
    CLI::App* convert = app.add_subcommand(
        "convert",
        "Convert a text file in one run, without a job file: detect IN as infer does, write "
        "OUT as its name says (.csv, .tsv, .txt or .fixed, .html; .gz after any of them "
        "compresses)");
    convert->add_option("in", c.input, "The file to read; - reads standard input")->required();
    convert->add_option("out", c.output, "The file to write; - writes standard output")->required();
    convert->add_option("--to", c.to, "What to write, whatever OUT's name: csv, tsv, fixed, html")
        ->check(CLI::IsMember({"csv", "tsv", "fixed", "html"}));
    convert->add_option("--select", c.select,
                        "Write only these columns, in this order: --select id,name,city");
    convert
        ->add_option("--rename", c.renames,
                     "Give a column another name in OUT: --rename id=Customer (repeatable)")
        ->take_all()
        ->allow_extra_args(false);
    convert->add_option("--delimiter", c.delimiter,
                        "OUT's delimiter: one character, \\t or tab, or a 0x code");
    convert->add_option("--encoding", c.encoding,
                        "OUT's encoding, a name or number: UTF-8 (default), latin1, 1252, ...");
    convert
        ->add_option("--types", c.types,
                     "exact (default): a type only where every value is written back as it "
                     "stands, so every value keeps its text; loose: wherever every value reads "
                     "without loss of the value; text: every column a string")
        ->check(CLI::IsMember({"exact", "loose", "text"}));
    CLI::Option* header =
        convert
            ->add_option("--header", c.headerLine,
                         "IN's header is line N (from 1); lines above it are skipped")
            ->check(countFromOne("a line number (lines count from 1)"));
    convert
        ->add_flag("--no-header", c.noHeader,
                   "IN has no header line: every line is data, the columns named by place")
        ->excludes(header);
    convert->add_option("--input-encoding", c.inputEncoding,
                        "IN's encoding, a name or number, where detection cannot tell it (as "
                        "infer --encoding)");
    CLI::Option* fixed = convert->add_flag(
        "--fixed", c.fixed,
        "IN is fixed-width text: its columns are found as infer --fixed finds them");
    convert
        ->add_option("--input-delimiter", c.inputDelimiter,
                     "IN's delimiter, where detection does not tell it (as infer --delimiter)")
        ->excludes(fixed);
    convert->add_option("--save-job", c.saveJob,
                        "Also write the job that ran to this file, to edit and run again");
    convert->add_flag("-q,--quiet", line.quiet,
                      "Print errors and warnings only: no detection report, no summary");
    convert->add_flag("--in-place", line.inPlace,
                      "Write OUT straight in place (as run --in-place), not under a temporary "
                      "name renamed into place at the end: for a folder that cannot be written");
}

}  // namespace

const char* programVersion() {
    return TEXTJOB_VERSION;
}

void declareCommandLine(CLI::App& app, CommandLine& line) {
    app.description(
        "textjob runs jobs of text file steps: a source reads a file, the steps after it write\n"
        "delimited, fixed-width or HTML files. Jobs are JSON files:\n"
        "  {\"steps\": [{\"type\": \"SOURCE_DELIMTEXT\", \"name\": \"in\", \"properties\": "
        "{...}}, ...]}\n"
        "textjob convert IN OUT does a one-off conversion without a job file.\n"
        "Exit status: 0 the job ran to the end of its data; 1 a step failed; 2 a bad command\n"
        "line, job file or plug-in (nothing ran); 130 stopped by Ctrl-C, 143 by SIGTERM,\n"
        "129 by SIGHUP.");
    app.require_subcommand(1);
    app.fallthrough();  // --plugin may also follow the subcommand
    app.set_version_flag("-V,--version", std::string("textjob ") + programVersion());
    app.add_option("--plugin", line.pluginPath,
                   "Plug-in libraries, separated by \":\" (default: $TEXT_PLUGIN_PATH, else "
                   "libtext.so in the lib folder)");
    declareConvert(app, line);
    declareRun(app, line);
    declareInfer(app, line);
    declareParts(app, line);
    declareCatalogue(app, line);
}

std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& exitStatus) {
    CommandLine line;
    CLI::App app{"", "textjob"};
    declareCommandLine(app, line);
    try {
        app.parse(argc, argv);
        // An empty part is not "no part": a launcher whose variable was empty would otherwise
        // run the whole job in every task. (Left out, the part may come from TEXTJOB_PART.)
        if (line.part.empty() && app.get_subcommand("run")->count("--part") > 0) {
            throw CLI::ValidationError("--part",
                                       "an empty value is not a part: give K/N, part K "
                                       "(0-based) of N parts, such as 3/16, or auto");
        }
        // Nor is an empty name a job file (a script's empty variable): it would go nowhere.
        if (line.inferJobPath.empty() && app.get_subcommand("infer")->count("--output") > 0) {
            throw CLI::ValidationError("-o",
                                       "an empty name: give the job file, or - (or leave "
                                       "-o out) for standard output");
        }
        if (line.convert.saveJob.empty() &&
            app.get_subcommand("convert")->count("--save-job") > 0) {
            throw CLI::ValidationError("--save-job", "an empty name: give the file for the job");
        }
        if (line.convert.saveJob == "-") {
            throw CLI::ValidationError("--save-job",
                                       "- is no file: standard output carries the "
                                       "run's summary (or OUT); give a file");
        }
        if (line.inferJobPath == "-") line.inferJobPath.clear();  // standard output
    } catch (const CLI::Error& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e);  // --help or --version: what was asked for, on standard output
            exitStatus = kExitOk;
            return std::nullopt;
        }
        std::fprintf(stderr,
                     "error: %s%s\nRun textjob --help (or textjob COMMAND --help) to see what it "
                     "takes.\n",
                     e.what(), usageHint(app, argc, argv).c_str());
        exitStatus = kExitBadJob;
        return std::nullopt;
    }
    static constexpr std::pair<const char*, CommandLine::Command> kCommands[] = {
        {"run", CommandLine::Command::Run},
        {"steps", CommandLine::Command::Steps},
        {"describe", CommandLine::Command::Describe},
        {"infer", CommandLine::Command::Infer},
        {"parts", CommandLine::Command::Parts},
        {"convert", CommandLine::Command::Convert},
        {"schema", CommandLine::Command::Schema},
        {"completion", CommandLine::Command::Completion},
        {"manual", CommandLine::Command::Manual},
    };
    for (const auto& [name, command] : kCommands) {
        if (app.get_subcommand(name)->parsed()) line.command = command;
    }
    return line;
}

}  // namespace textjob
