// The text reader over any file content in every encoding it knows, with small buffers so that
// lines and characters cross them: every read must end, stay within the file, and hand out
// NUL-terminated text that is valid UTF-8 (the sources vouch for it to the writers).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../runtime/txtfile_internal.h"
#include "memory_file.h"
#include "mvb/charset.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace {

constexpr int kEncodings[] = {-1,    0,     437,   850,   866,   932,   936,   949,   950,   1200,
                              1201,  1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,
                              12000, 12001, 20127, 28591, 28592, 28593, 28594, 28595, 28596, 28597,
                              28598, 28599, 28600, 28601, 28603, 28604, 28605, 54936, 65001};
constexpr size_t kBufferBytes[] = {4, 5, 7, 13, 64, 4096, 1 << 20, 3};

/// Text handed out is NUL-terminated UTF-8; a line's length is its UTF-8 length (other reads
/// count bytes of the file's encoding).
void checkSpan(const MvbTextSpan& span, int length, bool isLine) {
    if (span.bytes < 0 || span.text[span.bytes] != '\0') __builtin_trap();
    if (!mvbIsValidUtf8(span.text, span.bytes)) __builtin_trap();
    if (isLine && length != span.bytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > (1u << 16)) return 0;
    static const MemoryFile file;
    const int encoding = kEncodings[data[0] % std::size(kEncodings)];
    const uint32_t flags = ((data[1] & 1) != 0 ? MVB_FLAG_READ_BOM : 0u) |
                           ((data[1] & 2) != 0 ? MVB_FLAG_REPLACE_NULS : 0u);
    const int mode = (data[1] >> 2) & 3;
    const int count = 1 + (data[1] >> 4);
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = kBufferBytes[data[2] & 7];
    tuning.maxRecordBytes = (data[2] & 8) != 0 ? 64 : tuning.maxRecordBytes;
    const bool whole = (data[2] & 16) != 0;
    file.replace(data + 3, size - 3);

    MvbString error;
    MvbTxtFile* text =
        mvb::txt::openTextFile(file.path.c_str(), MVB_OPEN_READ, encoding, flags, error, tuning);
    if (text == nullptr) return 0;
    const uint64_t fileSize = text->getSize();
    // Every call either moves forward or reports the end or an error, so this many calls end it.
    for (size_t calls = 0; calls <= size + 2; ++calls) {
        const uint64_t before = text->getPosition();
        MvbTextSpan span;
        bool flag = false;
        int length = 0;
        switch (mode) {
            case 0:
                length = text->readLine(-1, &span, &flag);
                if (length >= 0) checkSpan(span, length, true);
                if (length >= 0 && !flag) length = -1;  // the end
                break;
            case 1:
                // Reads in pieces, cutting characters or not.
                length = whole ? text->readWhole(count, &span) : text->read(count, &span);
                if (length > 0) checkSpan(span, length, false);
                if (length == 0) length = -1;
                break;
            case 2:
                length = text->readInLine(count, &span, &flag);
                if (length >= 0) checkSpan(span, length, false);
                if (length == 0 && !flag) length = -1;
                break;
            default:
                length = text->skip(count, &flag);
                if (length == 0 && !flag) length = -1;
                break;
        }
        const uint64_t after = text->getPosition();
        if (after > fileSize || after < before) __builtin_trap();
        if (length < 0) break;
    }
    text->close();
    return 0;
}
