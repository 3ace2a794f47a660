#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "exit_status.h"
#include "mvb/directory.h"
#include "mvb/parts.h"
#include "mvb/path.h"
#include "part_option.h"
#include "run_command.h"
#include "texthost/job.h"

namespace textjob {
namespace {

const texthost::JobProperty* findProperty(const texthost::JobStep& step, const char* name) {
    for (const texthost::JobProperty& property : step.properties) {
        if (property.name == name && !property.isTable) return &property;
    }
    return nullptr;
}

std::string textOf(const texthost::JobStep& step, const char* name) {
    const texthost::JobProperty* property = findProperty(step, name);
    return property == nullptr || property->value.isNull()
               ? std::string()
               : std::string(property->value.asString().view());
}

bool isTrue(const texthost::JobStep& step, const char* name) {
    const texthost::JobProperty* property = findProperty(step, name);
    bool unreadable = false;
    return property != nullptr && property->value.asBool(&unreadable) && !unreadable;
}

/// The path as the run opens it: relative paths from the job's folder.
std::string resolved(const texthost::JobDefinition& job, const std::string& path) {
    if (path.empty() || path[0] == '/' || job.baseDirectory.empty()) return path;
    return std::string(mvbConcatPath(job.baseDirectory.c_str(), path.c_str()).view());
}

/// True when the file starts as gzip data does, which is read from its start only.
bool startsGzip(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    unsigned char head[2] = {0, 0};
    const size_t got = std::fread(head, 1, 2, file);
    std::fclose(file);
    return got == 2 && head[0] == 0x1f && head[1] == 0x8b;
}

unsigned long long sizeOf(const std::string& path, bool* found) {
    struct stat info {};
    *found = stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    return *found ? static_cast<unsigned long long>(info.st_size) : 0;
}

void printWholeByFirstPart(const char* why) {
    std::printf("  part 0 reads all of it (%s); the other parts read nothing of it\n", why);
}

/// One file split by byte ranges. False when the file cannot be sized.
bool printByteRanges(const texthost::JobDefinition& job, const texthost::JobStep& step,
                     const std::string& name, int count) {
    const std::string path = resolved(job, name);
    if (name == "-") {
        std::printf("  reads standard input\n");
        printWholeByFirstPart("standard input is read from its start only");
        return true;
    }
    bool found = false;
    const unsigned long long size = sizeOf(path, &found);
    if (!found) {
        std::printf("  reads %s, which cannot be found or is not a file\n", name.c_str());
        return false;
    }
    if (startsGzip(path)) {
        std::printf("  reads %s, %llu bytes\n", name.c_str(), size);
        printWholeByFirstPart("gzip data is read from its start only");
        return true;
    }
    std::printf("  reads %s, %llu bytes, split by byte ranges\n", name.c_str(), size);
    if (isTrue(step, "NEWLINES_IN_VALUES")) {
        std::printf(
            "  (quoted values may hold line ends: each part finds its first record by the "
            "quotes around its start, and part 0 reads all of it when that fails)\n");
    }
    for (int k = 0; k < count; ++k) {
        const unsigned long long begin = mvbPartOffset(size, k, count);
        const unsigned long long end = mvbPartOffset(size, k + 1, count);
        std::printf("  part %d: the records that start in bytes %llu to %llu (%llu bytes)\n", k,
                    begin, end == 0 ? 0 : end - 1, end - begin);
    }
    return true;
}

/// A pattern's files dealt whole to the parts. False when the folder cannot be read.
bool printDealtFiles(MvbDirectoryListing* listing, const std::string& name, int count) {
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    MvbString current;
    while (listing->moveNext()) {
        listing->getCurrentName(current);
        bool found = false;
        sizes.push_back(sizeOf(std::string(current.view()), &found));
        names.emplace_back(current.view());
    }
    MvbString error;
    listing->getLastError(error);
    listing->close();
    if (!error.empty()) {
        std::printf("  reads the files matching %s: %s\n", name.c_str(), error.asCstr());
        return false;
    }
    unsigned long long total = 0;
    for (const uint64_t size : sizes)
        total += size;
    std::printf("  reads the %zu files matching %s, %llu bytes, dealt whole\n", names.size(),
                name.c_str(), total);
    std::vector<int> parts(names.size());
    mvbDealFiles(sizes.data(), sizes.size(), count, parts.data());
    for (int k = 0; k < count; ++k) {
        size_t files = 0;
        unsigned long long bytes = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            if (parts[i] != k) continue;
            ++files;
            bytes += sizes[i];
        }
        std::printf("  part %d: %zu file%s, %llu bytes\n", k, files, files == 1 ? "" : "s", bytes);
        for (size_t i = 0; i < names.size(); ++i) {
            if (parts[i] == k)
                std::printf("    %s (%llu bytes)\n", names[i].c_str(),
                            static_cast<unsigned long long>(sizes[i]));
        }
    }
    return true;
}

bool printSource(const texthost::JobDefinition& job, const texthost::JobStep& step, int count) {
    const std::string name = textOf(step, "FILENAME");
    MvbString error;
    MvbDirectoryListing* listing =
        mvbDirectoryOpen(resolved(job, name).c_str(), MVB_DIR_FILES, error);
    if (listing != nullptr) return printDealtFiles(listing, name, count);
    return printByteRanges(job, step, name, count);
}

void printDestination(const texthost::JobDefinition& job, const texthost::JobStep& step,
                      int count) {
    if (step.type == "DEST_HTML" || step.type == "PROFILER") {
        std::printf("  cannot run in parts: it covers every row in one report\n");
        return;
    }
    const std::string name = textOf(step, "FILENAME");
    if (mvbPartKeepsFileName(resolved(job, name))) {
        std::printf("  every part writes %s itself (standard output, a device or a pipe)\n",
                    name.c_str());
        return;
    }
    for (int k = 0; k < count; ++k)
        std::printf("  part %d writes %s\n", k, mvbPartFileName(name, k, count).c_str());
}

}  // namespace

int partsCommand(const CommandLine& line) {
    if (line.partCount < 1) {
        std::fprintf(stderr, "error: parts: the number of parts N must be 1 or more\n");
        return kExitBadJob;
    }
    const std::optional<texthost::JobDefinition> read = readJobFile(line.jobPath);
    if (!read) return kExitBadJob;
    const texthost::JobDefinition& job = *read;
    std::printf("%s in %d parts (textjob run %s --part K/%d, K from 0 to %d)\n",
                line.jobPath.c_str(), line.partCount, line.jobPath.c_str(), line.partCount,
                line.partCount - 1);
    bool ok = true;
    for (const texthost::JobStep& step : job.steps) {
        const bool source = step.type.rfind("SOURCE_", 0) == 0;
        const bool writes = findProperty(step, "FILENAME") != nullptr || step.type == "PROFILER";
        if (!source && !writes) continue;
        std::printf("%s (%s):\n", step.name.c_str(), step.type.c_str());
        if (source) {
            ok = printSource(job, step, line.partCount) && ok;
        } else {
            printDestination(job, step, line.partCount);
        }
    }
    return ok ? kExitOk : kExitStepFailed;
}

}  // namespace textjob
