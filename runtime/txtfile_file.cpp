#include "txtfile_file.h"

#include <cstring>

MvbTxtFile::~MvbTxtFile() = default;

namespace mvb::txt {

TextFile::TextFile(std::string path, std::unique_ptr<TextReader> reader)
    : path_(std::move(path)), reader_(std::move(reader)) {}

TextFile::TextFile(std::string path, std::unique_ptr<TextWriter> writer)
    : path_(std::move(path)), writer_(std::move(writer)) {}

TextFile::~TextFile() = default;

void TextFile::close() {
    if (writer_ && !writer_->settled()) {
        if (writer_->replacing()) {
            // Never committed: the file it would replace stays, and what was written is kept.
            std::string keptAs;
            writer_->abandon(true, &keptAs);
        } else {
            writer_->flush();  // a caller that must know the outcome calls flush() first
        }
    }
    delete this;
}

void TextFile::markRecordEnd() {
    if (writer_) {
        writer_->markRecordEnd();
    }
}

bool TextFile::commit() {
    return writer_ ? writer_->commit() : refuseWrite();
}

uint64_t TextFile::abandon(bool keep, MvbString& keptAs) {
    std::string kept;
    const uint64_t records = writer_ ? writer_->abandon(keep, &kept) : 0;
    keptAs.assign(kept);
    return records;
}

int TextFile::getEncoding() const {
    return reader_ ? reader_->encoding().number : writer_->encoding().number;
}

void TextFile::getLastError(MvbString& text) const {
    if (!misuse_.empty()) {
        text.assign(misuse_);
    } else {
        text.assign(reader_ ? reader_->error() : writer_->error());
    }
}

int TextFile::refuseRead() {
    misuse_ = "cannot read file \"" + path_ + "\": it is open for writing";
    return -1;
}

bool TextFile::refuseWrite() {
    misuse_ = "cannot write file \"" + path_ + "\": it is open for reading";
    return false;
}

int TextFile::read(int count, MvbTextSpan* text) {
    return reader_ ? reader_->read(count, text) : refuseRead();
}

int TextFile::readWhole(int count, MvbTextSpan* text) {
    return reader_ ? reader_->readWhole(count, text) : refuseRead();
}

bool TextFile::replacesAtEnd() const {
    return writer_ && writer_->replacing();
}

uint64_t TextFile::getCutCharacters() const {
    return reader_ ? reader_->cutCharacters() : 0;
}

int TextFile::readInLine(int count, MvbTextSpan* text, bool* lineEnded) {
    return reader_ ? reader_->readInLine(count, text, lineEnded) : refuseRead();
}

bool TextFile::readLineFields(int count, const int* starts, const int* widths, MvbTextSpan* texts) {
    return reader_ && reader_->readLineFields(count, starts, widths, texts);
}

int TextFile::readLine(int /*count*/, MvbTextSpan* line, bool* present) {
    if (!reader_) [[unlikely]] {
        *present = false;
        return refuseRead();
    }
    return reader_->readLine(line, present);
}

int TextFile::readRecord(const MvbRecordQuoting& quoting, MvbTextSpan* record, bool* present) {
    if (!reader_) [[unlikely]] {
        *present = false;
        return refuseRead();
    }
    return reader_->readRecord(quoting, record, present);
}

int TextFile::findRecordStart(uint64_t offset, const MvbRecordQuoting* quoting, uint64_t* start) {
    return reader_ ? reader_->findRecordStart(offset, quoting, start) : refuseRead();
}

bool TextFile::readRange(uint64_t begin, uint64_t end) {
    return reader_ ? reader_->readRange(begin, end) : refuseRead() == 0;
}

bool TextFile::skipRecords(int width, int count) {
    return reader_ ? reader_->skipRecords(width, count) : refuseRead() == 0;
}

int TextFile::skip(int count, bool* lineEnded) {
    return reader_ ? reader_->skip(count, lineEnded) : refuseRead();
}

uint64_t TextFile::getSize() const {
    return reader_ ? reader_->size() : writer_->position();
}

uint64_t TextFile::getPosition() const {
    return reader_ ? reader_->position() : writer_->position();
}

bool TextFile::flush() {
    return writer_ ? writer_->flush() : true;
}

bool TextFile::writePadded(const char* text, int byteLength, int width) {
    return writePaddedField(text, byteLength, width, nullptr);
}

bool TextFile::writePaddedField(const char* text, int byteLength, int width, bool* cut) {
    if (cut != nullptr) *cut = false;
    return writer_ ? writer_->writePadded(text != nullptr ? text : "", byteLength, width, cut)
                   : refuseWrite();
}

bool TextFile::writeString(const MvbString& text) {
    return writer_ ? writer_->write(text.asCstr(), text.view().size()) : refuseWrite();
}

bool TextFile::writeChars(const char* bytes, int byteCount) {
    if (!writer_) {
        return refuseWrite();
    }
    return writer_->write(bytes, byteCount > 0 ? static_cast<size_t>(byteCount) : 0);
}

bool TextFile::writeText(const char* text) {
    if (!writer_) {
        return refuseWrite();
    }
    return writer_->write(text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0);
}

bool TextFile::writeLine(const char* text) {
    return writeText(text) && writer_->writeLineEnd();
}

bool TextFile::writeCheckedText(const char* bytes, int byteCount, bool endLine) {
    if (!writer_) {
        return refuseWrite();
    }
    return writer_->writeChecked(bytes, byteCount > 0 ? static_cast<size_t>(byteCount) : 0,
                                 endLine);
}

char* TextFile::reserveCheckedText(int byteCount) {
    return writer_ ? writer_->reserveChecked(byteCount > 0 ? static_cast<size_t>(byteCount) : 0)
                   : nullptr;
}

bool TextFile::commitCheckedText(const char* end, bool endLine) {
    if (!writer_) {
        return refuseWrite();
    }
    return writer_->commitChecked(end, endLine);
}

}  // namespace mvb::txt
