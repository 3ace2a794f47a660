#pragma once

// The encoding of a file, chosen from the bytes at its head: a byte-order mark, the NUL pattern
// of UTF-16 or UTF-32 text, valid UTF-8, else windows-1252. Also tells text from binary data.

#include <cstdint>
#include <string>
#include <string_view>

#include "infer_layout.h"
#include "mvb/charset.h"

namespace textjob::infer {

/// Encoding numbers detection writes.
enum : int {
    kUtf8 = mvbEncodingUtf8,
    kUtf16Le = mvbEncodingUtf16Le,
    kUtf16Be = mvbEncodingUtf16Be,
    kUtf32Le = mvbEncodingUtf32Le,
    kUtf32Be = mvbEncodingUtf32Be,
    kWindows1252 = 1252,
    kLatin1 = mvbEncodingLatin1,
};

/// Reads at most `limit` bytes from the start of the file (inflated when it is gzip data) and
/// its size. Throws InferError when the file cannot be read.
std::string readHead(const std::string& path, size_t limit, uint64_t& fileBytes);

/// Chooses the encoding from the file's first bytes (`wholeFile`: they are all of it); advice
/// names `encodingOption` (see InferOptions). Throws InferError for an empty file and for one
/// that is not text.
EncodingChoice chooseEncoding(std::string_view head, bool wholeFile,
                              const std::string& encodingOption = {});

/// For a file read as windows-1252 that is UTF-8 but for a few bytes: a note that says so,
/// where the first of them is and what to do (see InferOptions for `encodingOption`); empty
/// otherwise. Reads the whole file.
std::string mostlyUtf8FileNote(const std::string& path, const std::string& encodingOption);

/// Advice to give the encoding `name` (empty: the file's encoding, with `examples` after it)
/// with `option`, the option of the command that asked (empty: that of each command).
std::string giveEncoding(const std::string& option, const std::string& name = {},
                         const std::string& examples = {});

/// The encoding `text` names (a name or number, as an ENCODING property takes it), for a file
/// whose encoding is given rather than detected; its byte-order mark is honoured where the
/// file's first bytes are that encoding's. Throws InferError for an empty file and for a name
/// of no encoding.
EncodingChoice givenEncoding(const std::string& text, std::string_view head);

/// The byte size of the code point `code` in the file's encoding (for fixed-width positions).
int fileBytesOf(int code, int encoding) noexcept;

}  // namespace textjob::infer
