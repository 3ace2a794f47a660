#include "textfile_support.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "../../../runtime/txtfile_internal.h"

namespace textfile_test {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

MvbTxtFile* openWith(const std::string& path, int mode, int encoding, uint32_t flags,
                     size_t bufferBytes) {
    mvb::txt::FileTuning tuning;
    if (bufferBytes != 0) {
        tuning.bufferBytes = bufferBytes;
    }
    MvbString error;
    MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), mode, encoding, flags, error, tuning);
    EXPECT_NE(file, nullptr) << error.asCstr();
    return file;
}

std::vector<std::string> readAllLines(MvbTxtFile* file) {
    std::vector<std::string> lines;
    for (;;) {
        MvbTextSpan line;
        bool present = false;
        const int length = file->readLine(-1, &line, &present);
        if (length < 0) {
            lines.push_back("<error: " + lastError(file) + ">");
            break;
        }
        if (!present) {
            EXPECT_EQ(length, 0);
            break;
        }
        EXPECT_EQ(length, line.bytes);
        EXPECT_EQ(line.text[line.bytes], '\0') << "a line is NUL-terminated";
        lines.emplace_back(line.text, static_cast<size_t>(line.bytes));
    }
    return lines;
}

std::string lastError(const MvbTxtFile* file) {
    MvbString text;
    file->getLastError(text);
    return text.asCstr();
}

std::string toUtf16Le(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        unsigned code = lead;
        size_t length = 1;
        if (lead >= 0xF0) {
            code = lead & 0x07u;
            length = 4;
        } else if (lead >= 0xE0) {
            code = lead & 0x0Fu;
            length = 3;
        } else if (lead >= 0xC0) {
            code = lead & 0x1Fu;
            length = 2;
        }
        for (size_t i = 1; i < length; ++i) {
            code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3Fu);
        }
        at += length;
        auto unit = [&out](unsigned value) {
            out.push_back(static_cast<char>(value & 0xFF));
            out.push_back(static_cast<char>(value >> 8));
        };
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 | (code >> 10));
            unit(0xDC00 | (code & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

std::string gzipped(const std::string& text, int level) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, text.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace textfile_test
