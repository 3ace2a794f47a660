#pragma once

// A fuzz target's input as a file: one file in memory, rewritten for every input, opened by
// its /proc path.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct MemoryFile {
    int fd = memfd_create("fuzz_input", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    void replace(const uint8_t* data, size_t size) const {
        if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
            __builtin_trap();
    }
};
