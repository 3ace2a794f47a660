#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace textjob {

/// What `textjob convert IN OUT` is asked to do.
struct ConvertRequest {
    std::string input;                 ///< the file to read; "-" standard input
    std::string output;                ///< the file to write; "-" standard output
    std::string to;                    ///< csv, tsv, fixed, html; empty: from the output's name
    std::string select;                ///< "a,b,c": these columns in this order; empty: all
    std::vector<std::string> renames;  ///< "a=A" texts, in order
    std::string delimiter;             ///< the output's delimiter; empty: the kind's own
    std::string encoding;              ///< the output's encoding; empty: UTF-8
    std::string types = "exact";       ///< exact, loose or text, as infer's --types and --text
    int headerLine = 0;                ///< IN's header is this line (from 1); 0: detect it
    bool noHeader = false;             ///< IN has no header line
    bool fixed = false;                ///< IN is fixed-width text
    std::string inputEncoding;         ///< IN's encoding; empty: detect it
    std::string inputDelimiter;        ///< IN's delimiter; empty: detect it
    std::string saveJob;               ///< where to write the job that ran; empty: nowhere
};

/// What the user asked for on the command line.
struct CommandLine {
    enum class Command { Run, Steps, Describe, Infer, Parts, Convert, Schema, Completion, Manual };
    Command command = Command::Run;
    std::string jobPath;                 ///< run: the job file
    std::string pluginPath;              ///< empty: the host's default
    bool dryRun = false;                 ///< run the rows through without writing files
    bool quiet = false;                  ///< no summary and no progress line
    bool strict = false;                 ///< a value not kept as read fails the run
    bool inPlace = false;                ///< run: destinations write straight into their files
    int threads = 0;                     ///< run: 1 one thread; 0 automatic (see RunOptions)
    std::vector<std::string> overrides;  ///< run: STEP.PROPERTY=VALUE texts, in order
    std::string stepType;                ///< describe: the step type id
    std::string inferFile;               ///< infer: the file to detect
    std::string inferTo = "csv";         ///< infer: what the job writes (csv, fixed, html, none)
    std::string inferJobPath;            ///< infer: where the job goes; empty: standard output
    bool inferText = false;              ///< infer: every column a string
    std::string inferTypes = "exact";    ///< infer: exact or loose column types
    int inferHeaderLine = 0;             ///< infer: the header's line (from 1); 0: detect
    bool inferNoHeader = false;          ///< infer: the file has no header line
    bool inferFixed = false;             ///< infer: fixed-width columns
    std::string inferEncoding;           ///< infer: the file's encoding; empty: detect it
    std::string inferDelimiter;          ///< infer: the file's delimiter; empty: detect it
    uint64_t inferSampleBytes = 0;       ///< infer: bytes to read; 0: the whole file
    std::string part;                    ///< run: --part K/N or auto; empty: TEXTJOB_PART
    int partCount = 0;                   ///< run: --parts N (only with --part auto); parts: N
    bool json = false;                   ///< steps, describe: JSON for scripts
    std::string shell;                   ///< completion: bash, zsh or fish
    ConvertRequest convert;              ///< convert: what to write
};

/// The program's version, as the build gives it.
const char* programVersion();

/// Parses the arguments. On --help, --version or a usage error it prints what is asked for (a
/// usage error on standard error) and returns nothing, with the status to end with in
/// `exitStatus`: 0 for --help and --version, kExitBadJob for a usage error.
std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& exitStatus);

}  // namespace textjob
