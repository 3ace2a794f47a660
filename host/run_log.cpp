#include "run_log.h"

namespace texthost {
namespace {

/// Summary pieces are separate columns of one entry: where neither side brings a blank or
/// punctuation to the seam they would run together. A count after a name is a column of its
/// own ("a.csv, 3 rows read"); a name after the words that lead to it reads on ("Wrote 3 rows
/// to text file a.txt").
std::string_view seam(std::string_view before, std::string_view after) {
    if (before.empty() || after.empty()) return {};
    const char last = before.back();
    const char first = after.front();
    if (last == ' ' || last == '\t' || first == ' ' || first == '\t') return {};
    if (std::string_view(",;:.)!?").find(first) != std::string_view::npos) return {};
    return first >= '0' && first <= '9' ? ", " : " ";
}

}  // namespace

void RunLog::error(std::string_view step, std::string_view text) {
    const std::lock_guard<std::mutex> hold(mutex_);
    messages_.push_back({RunMessage::Kind::Error, std::string(step), std::string(text)});
    ++errorCount_;
    if (listener_) listener_(messages_.back());
}

void RunLog::warning(std::string_view step, std::string_view text) {
    const std::lock_guard<std::mutex> hold(mutex_);
    messages_.push_back({RunMessage::Kind::Warning, std::string(step), std::string(text)});
    if (listener_) listener_(messages_.back());
}

void RunLog::info(std::string_view step, std::string_view text, bool newEntry) {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (!newEntry && !messages_.empty()) {
        RunMessage& last = messages_.back();
        if (last.kind == RunMessage::Kind::Info && last.step == step) {
            last.text.append(seam(last.text, text));
            last.text.append(text);
            return;
        }
    }
    messages_.push_back({RunMessage::Kind::Info, std::string(step), std::string(text)});
}

}  // namespace texthost
