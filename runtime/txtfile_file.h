#pragma once

// The MvbTxtFile that mvbTxtFileOpen() hands out: a reader or a writer behind the one
// interface. Private to the runtime library.

#include <memory>
#include <string>

#include "mvb/txtfile.h"
#include "txtfile_reader.h"
#include "txtfile_writer.h"

namespace mvb::txt {

/// A text file open for reading or for writing; the operations of the other direction fail
/// with a text that says so.
class TextFile final : public MvbTxtFile {
  public:
    TextFile(std::string path, std::unique_ptr<TextReader> reader);
    TextFile(std::string path, std::unique_ptr<TextWriter> writer);

    int getEncoding() const override;
    void getLastError(MvbString& text) const override;
    int read(int count, MvbTextSpan* text) override;
    int readWhole(int count, MvbTextSpan* text) override;
    uint64_t getCutCharacters() const override;
    bool replacesAtEnd() const override;
    int readInLine(int count, MvbTextSpan* text, bool* lineEnded) override;
    bool readLineFields(int count, const int* starts, const int* widths,
                        MvbTextSpan* texts) override;
    int readLine(int count, MvbTextSpan* line, bool* present) override;
    bool skipRecords(int width, int count) override;
    void close() override;
    uint64_t getSize() const override;
    int skip(int count, bool* lineEnded) override;
    uint64_t getPosition() const override;
    bool flush() override;
    bool writePadded(const char* text, int byteLength, int width) override;
    bool writeString(const MvbString& text) override;
    bool writeChars(const char* bytes, int byteCount) override;
    bool writeText(const char* text) override;
    bool writeLine(const char* text) override;
    int readRecord(const MvbRecordQuoting& quoting, MvbTextSpan* record, bool* present) override;
    bool writePaddedField(const char* text, int byteLength, int width, bool* cut) override;
    bool writeCheckedText(const char* bytes, int byteCount, bool endLine) override;
    char* reserveCheckedText(int byteCount) override;
    bool commitCheckedText(const char* end, bool endLine) override;
    void markRecordEnd() override;
    bool commit() override;
    uint64_t abandon(bool keep, MvbString& keptAs) override;
    int findRecordStart(uint64_t offset, const MvbRecordQuoting* quoting, uint64_t* start) override;
    bool readRange(uint64_t begin, uint64_t end) override;

  private:
    ~TextFile() override;
    bool refuseWrite();
    int refuseRead();

    std::string path_;
    std::unique_ptr<TextReader> reader_;
    std::unique_ptr<TextWriter> writer_;
    std::string misuse_;  ///< set by an operation of the wrong direction
};

}  // namespace mvb::txt
