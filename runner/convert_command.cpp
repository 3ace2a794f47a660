#include "convert_command.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "convert_infer.h"
#include "convert_job.h"
#include "exit_status.h"
#include "interrupt.h"
#include "job_file_output.h"
#include "job_schema.h"
#include "mvb/charset.h"
#include "mvb/directory.h"
#include "mvb/txtfile.h"
#include "run_command.h"
#include "texthost/describe.h"
#include "texthost/run.h"

namespace textjob {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

/// A stop asked for (Ctrl-C, SIGTERM, SIGHUP) before the run began: nothing was written.
struct StoppedBeforeTheRun {};

/// Standard input could not be copied (a full disk, no temporary folder): the conversion
/// fails as a run that cannot write does.
struct SpoolFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Writes all of `bytes` (`size` of them) to `fd`; false with errno set when it cannot.
bool writeAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, bytes, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            return false;
        }
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

/// Copies standard input to a file of its own, so that detection and the run can both read it,
/// and puts the copy in standard input's place, to be read from its start; returns a path that
/// opens the copy anew (detection reads it more than once). The file has no name from the
/// moment it is made, so that nothing is left behind however the program ends. Throws
/// SpoolFailure when it cannot, StoppedBeforeTheRun when a stop comes first (a pipe or a
/// terminal may hold back its end for as long as it likes, so the copy waits for data a while
/// at a time and looks for a stop in between).
std::string spoolStandardInput() {
    // Standard input closed at start has a stand-in that would read as an empty file.
    if (mvbStandardStreamClosedAtStart(STDIN_FILENO)) {
        throw SpoolFailure(
            "cannot read standard input (\"-\"): it was closed when the "
            "program started; name a file, or start the program with "
            "standard input open");
    }
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    if (error) {
        const char* tmpdir = std::getenv("TMPDIR");
        throw SpoolFailure(
            "cannot find the temporary folder to hold standard input in" +
            (tmpdir != nullptr ? " (TMPDIR is \"" + std::string(tmpdir) + "\")" : std::string()) +
            ": " + error.message());
    }
    std::string name = (folder / "textjob-convert-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        throw SpoolFailure("cannot make a file to hold standard input in " + folder.string() +
                           ": " + std::strerror(errno));
    }
    ::unlink(name.c_str());
    static constexpr size_t kChunk = size_t{1} << 20;
    std::vector<char> buffer(kChunk);
    for (;;) {
        if (texthost::stopRequested()) {
            ::close(fd);
            throw StoppedBeforeTheRun{};
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int reason = errno;
            ::close(fd);
            throw SpoolFailure(reason == EBADF
                                   ? std::string("standard input is closed: there is nothing "
                                                 "to read")
                                   : "cannot read standard input: " +
                                         std::string(std::strerror(reason)));
        }
        if (!writeAll(fd, buffer.data(), static_cast<size_t>(got))) {
            const int reason = errno;
            ::close(fd);
            throw SpoolFailure("cannot copy standard input to a file in " + folder.string() +
                               " to read it: " + std::strerror(reason));
        }
    }
    if (::lseek(fd, 0, SEEK_SET) != 0 || ::dup2(fd, STDIN_FILENO) < 0) {
        const int reason = errno;
        ::close(fd);
        throw SpoolFailure("cannot read standard input from its copy: " +
                           std::string(std::strerror(reason)));
    }
    ::close(fd);
    return "/proc/self/fd/" + std::to_string(STDIN_FILENO);
}

/// What the installed destination steps can do beyond the oldest version.
DestinationFeatures destinationFeatures(const CommandLine& line) {
    texthost::RunOptions options;
    options.pluginPath = line.pluginPath;
    DestinationFeatures features;
    const texthost::StepDescription d = texthost::describeStepType("DEST_DELIMTEXT", options);
    features.quoteWhenNeeded = d.find("QUOTE_WHEN_NEEDED") != nullptr;
    return features;
}

/// Writes the job to `path` with paths that hold from the job's folder. False after saying why.
bool saveJob(Json job, const std::string& path) {
    const std::string folder = fs::absolute(path).parent_path().string();
    for (Json& step : job["steps"]) {
        Json& file = step["properties"]["FILENAME"];
        if (file.get<std::string>() != "-") file = pathFromJob(file.get<std::string>(), folder);
    }
    if (const std::string schema = installedSchemaPath(); !schema.empty()) {
        Json referenced = {{"$schema", schema}};
        referenced.update(job);
        job = std::move(referenced);
    }
    return writeJobFile(path, jobText(job));
}

}  // namespace

int convertCommand(const CommandLine& line) {
    const ConvertRequest& request = line.convert;
    try {
        // The job names its files in JSON text, which is UTF-8.
        for (const std::string* file : {&request.input, &request.output}) {
            if (!mvbIsValidUtf8(file->data(), static_cast<long>(file->size()))) {
                throw ConvertError("the file name " + *file +
                                   " is not UTF-8, which a job cannot hold: rename the file, or "
                                   "read or write it through - (standard input or output)");
            }
        }
        if (request.input != "-" && request.output != "-" &&
            sameFile(request.input, request.output)) {
            throw ConvertError("the output " + request.output +
                               " is the input: write the conversion to another file");
        }
        // The job is saved before anything is read: in place of the input or the output, it
        // would be read as the data, or lost under it.
        if (!request.saveJob.empty()) {
            for (const std::string* file : {&request.input, &request.output}) {
                if (*file != "-" && samePlace(*file, request.saveJob)) {
                    throw ConvertError("--save-job " + request.saveJob + " is the " +
                                       (file == &request.input ? "input" : "output") +
                                       ": save the job to a file of its own");
                }
            }
        }
        const std::string kind = outputKind(request);
        InferRequest asked{request.types,         request.headerLine,
                           request.noHeader,      readsFixedWidth(request),
                           request.inputEncoding, kind == "tsv" ? "csv" : kind};
        if (!request.inputDelimiter.empty())
            asked.delimiter = delimiterCode("--input-delimiter", request.inputDelimiter);
        // Encodings are checked before the input is read, as the command line they are.
        for (const auto& [option, name] : {std::pair{"--encoding", &request.encoding},
                                           std::pair{"--input-encoding", &request.inputEncoding}}) {
            int number = 0;
            if (name->empty()) continue;
            if (!mvbEncodingFromName(name->c_str(), &number)) {
                throw ConvertError(std::string(option) + " " + *name +
                                   ": no encoding of that name; the nearest: " +
                                   std::string(mvbClosestEncodingNames(name->c_str()).view()));
            }
            if (!mvbIsKnownEncoding(number)) {
                throw ConvertError(std::string(option) + " " + *name +
                                   ": no encoding has that number (65001 is UTF-8, 1200 "
                                   "UTF-16LE, 1252 windows-1252)");
            }
        }
        if (request.input == "-") asked.inputCopy = spoolStandardInput();
        texthost::JobDefinition definition;
        {
            // What detection found, and the job as JSON, are let go before the run: the run
            // needs only its definition (a file of many columns has large ones).
            InferredJob inferred;
            try {
                inferred = inferJob(request.input, asked);
            } catch (const std::runtime_error& e) {
                std::fprintf(stderr, "error: %s: %s\n", request.input.c_str(), e.what());
                return kExitStepFailed;
            }
            if (!line.quiet) std::fputs(inferred.report.c_str(), stderr);
            if (texthost::stopRequested()) throw StoppedBeforeTheRun{};
            Json job = convertJob(inferred.job, request, kind, destinationFeatures(line));
            inferred = InferredJob{};
            if (!request.saveJob.empty()) {
                Json saved = job;
                saved["steps"][0]["properties"]["FILENAME"] =
                    request.input == "-"
                        ? request.input
                        : std::string(mvbLiteralFileName(request.input.c_str()).view());
                if (!saveJob(std::move(saved), request.saveJob)) return kExitStepFailed;
            }
            definition = texthost::parseJobText(job.dump(), fs::current_path().string());
        }
        return runParsedJob(definition, line);
    } catch (const SpoolFailure& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitStepFailed;
    } catch (const StoppedBeforeTheRun&) {
        std::fprintf(stderr, "error: stopped before the conversion began: nothing was written\n");
        return stoppedExitStatus();
    } catch (const ConvertError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
}

}  // namespace textjob
