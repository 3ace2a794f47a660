#include "src_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "texthost/job.h"

namespace srctest {

void writeSparseFile(const std::string& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("cannot size " + path);
    }
    ::close(fd);
}

std::string linesOf(int count, const std::function<std::string(int)>& line) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += line(i);
        out += '\n';
    }
    return out;
}

texthost::JobDefinition sourceJob(const std::string& type, const nlohmann::json& properties,
                                  const std::string& baseDir) {
    const nlohmann::json job = {
        {"steps", nlohmann::json::array(
                      {{{"type", type}, {"name", "source"}, {"properties", properties}}})}};
    return texthost::parseJobText(job.dump(), baseDir);
}

namespace {

std::vector<std::string> textsOfKind(const std::vector<texthost::RunMessage>& messages,
                                     texthost::RunMessage::Kind kind) {
    std::vector<std::string> out;
    for (const auto& message : messages) {
        if (message.kind == kind) out.push_back(message.text);
    }
    return out;
}

}  // namespace

std::vector<std::string> SourceRead::errors() const {
    return textsOfKind(messages, texthost::RunMessage::Kind::Error);
}
std::vector<std::string> SourceRead::warnings() const {
    return textsOfKind(messages, texthost::RunMessage::Kind::Warning);
}
std::vector<std::string> SourceRead::infos() const {
    return textsOfKind(messages, texthost::RunMessage::Kind::Info);
}

std::vector<std::vector<std::string>> SourceRead::texts() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& row : rows) {
        std::vector<std::string> values;
        for (const auto& value : row)
            values.push_back(text(value));
        out.push_back(std::move(values));
    }
    return out;
}

SourceRead readSource(const std::string& type, const nlohmann::json& properties,
                      const std::string& baseDir) {
    SourceRead read;
    texthost::Pipeline pipeline(sourceJob(type, properties, baseDir));
    read.started = pipeline.prepareAndStart();
    if (read.started) {
        for (;;) {
            read.endCode = pipeline.pull();
            if (read.endCode != 0) break;
            const StepOutputItems* items = pipeline.outputItems(0);
            std::vector<MvbDatavar> row;
            for (int i = 0; i < items->count; ++i)
                row.push_back(items->items[i].value);
            read.rows.push_back(std::move(row));
        }
        pipeline.finish();
    }
    read.messages = pipeline.messages();
    return read;
}

std::string text(const MvbDatavar& value) {
    return value.isNull() ? std::string("<null>") : std::string(value.asString().view());
}

const StepOutputItem& outputItem(const texthost::Pipeline& pipeline, int index) {
    return pipeline.outputItems(0)->items[index];
}

Status statusOf(StepPluginStep* step) {
    Status status;
    MvbString text;
    status.ok = step->getStatus(&status.percent, &text);
    status.text = std::string(text.view());
    return status;
}

std::string joinedTexts(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts)
        out += text + "\n";
    return out;
}

bool isRunSummary(const std::vector<std::string>& infos, const std::string& fileName, int rows) {
    if (infos.size() != 1) return false;
    const std::string& text = infos[0];
    const std::string count = std::to_string(rows) + " rows read";
    const size_t name = text.find(fileName);
    return text.rfind("Input file: ", 0) == 0 && name != std::string::npos &&
           text.size() >= count.size() &&
           text.compare(text.size() - count.size(), count.size(), count) == 0 &&
           name + fileName.size() <= text.size() - count.size();
}

bool hasMessage(const std::vector<std::string>& texts, int number, const std::string& sourceFile) {
    const std::string prefix = "Text Plugin " + std::to_string(number) + ":";
    int found = 0;
    for (const auto& text : texts) {
        if (text.rfind(prefix, 0) == 0 && text.find("(" + sourceFile + ":") != std::string::npos) {
            ++found;
        }
    }
    return found == 1;
}

}  // namespace srctest
