#include "run_log.h"

namespace texthost {

void RunLog::error(std::string_view step, std::string_view text) {
    messages_.push_back({RunMessage::Kind::Error, std::string(step), std::string(text)});
    ++errorCount_;
}

void RunLog::warning(std::string_view step, std::string_view text) {
    messages_.push_back({RunMessage::Kind::Warning, std::string(step), std::string(text)});
}

void RunLog::info(std::string_view step, std::string_view text, bool newEntry) {
    if (!newEntry && !messages_.empty()) {
        RunMessage& last = messages_.back();
        if (last.kind == RunMessage::Kind::Info && last.step == step) {
            // Pieces are separate columns of one summary; where neither side brings its own
            // blank they would run together ("a.csv" "3 rows read"), so a comma parts them.
            const bool blankAtSeam =
                last.text.empty() || text.empty() || last.text.back() == ' ' || text.front() == ' ';
            if (!blankAtSeam) last.text.append(", ");
            last.text.append(text);
            return;
        }
    }
    messages_.push_back({RunMessage::Kind::Info, std::string(step), std::string(text)});
}

}  // namespace texthost
