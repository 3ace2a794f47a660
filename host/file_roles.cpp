#include "texthost/file_roles.h"

#include <exception>

#include "mvb/parts.h"
#include "mvb/types.h"
#include "texthost/pipeline.h"

namespace texthost {
namespace {

bool knownRole(int role) {
    return role >= kStepFileRead && role <= kStepFileAppended;
}

FileRole roleOf(int role) {
    switch (role) {
        case kStepFileRead:
            return FileRole::Read;
        case kStepFilePatternRead:
            return FileRole::PatternRead;
        case kStepFileWritten:
            return FileRole::Written;
        default:
            return FileRole::Appended;
    }
}

const JobProperty* scalarIn(const JobStep& step, std::string_view property) {
    for (const JobProperty& given : step.properties) {
        if (given.name == property && !given.isTable) return &given;
    }
    return nullptr;
}

}  // namespace

bool FileProperty::appendsIn(const JobStep& step) const {
    return role == FileRole::Appended && flagIn(step, condition);
}

bool flagIn(const JobStep& step, std::string_view property) {
    const JobProperty* given = scalarIn(step, property);
    if (given == nullptr) return false;
    bool unreadable = false;
    const bool value = given->value.asBool(&unreadable);
    return value && !unreadable;
}

std::vector<const FileProperty*> StepFileRoles::written() const {
    std::vector<const FileProperty*> found;
    for (const FileProperty& p : properties) {
        if (p.writes()) found.push_back(&p);
    }
    return found;
}

std::string StepFileRoles::writtenFile(const std::string& path) const {
    return partCount > 0 ? mvbPartFileName(path, part, partCount) : path;
}

const FileProperty* StepFileRoles::find(std::string_view property) const {
    for (const FileProperty& p : properties) {
        if (p.property == property) return &p;
    }
    return nullptr;
}

StepFileRoles fileRolesOf(StepPluginStep* step) {
    StepFileRoles roles;
    if (step == nullptr) return roles;
    const StepFiles* files = nullptr;
    try {
        files = static_cast<const StepFiles*>(step->queryExtension(kStepFilesExtension));
    } catch (const std::exception& e) {
        roles.failure = e.what();
        return roles;
    } catch (...) {
        roles.failure = "an unknown exception";
        return roles;
    }
    if (files == nullptr) return roles;
    for (int i = 0; files->properties != nullptr && i < files->propertyCount; ++i) {
        const StepFileProperty& p = files->properties[i];
        if (p.property == nullptr || !knownRole(p.role)) continue;
        FileProperty& kept = roles.properties.emplace_back();
        kept.property = p.property;
        kept.role = roleOf(p.role);
        if (kept.role == FileRole::Appended && p.condition != nullptr) kept.condition = p.condition;
    }
    for (int i = 0; files->extras != nullptr && i < files->extraCount; ++i) {
        const StepExtraFile& extra = files->extras[i];
        if (extra.name == nullptr || *extra.name == '\0' || extra.beside == nullptr) continue;
        const FileProperty* beside = roles.find(extra.beside);
        if (beside == nullptr || !beside->writes()) continue;
        roles.extras.push_back({extra.name, extra.beside, extra.sameText != 0});
    }
    return roles;
}

std::vector<StepFileRoles> fileRolesOf(const Pipeline& pipeline) {
    std::vector<StepFileRoles> all;
    for (int i = 0; i < pipeline.stepCount(); ++i) {
        StepFileRoles& roles = all.emplace_back(fileRolesOf(pipeline.step(i)));
        roles.part = pipeline.part();
        roles.partCount = pipeline.partCount();
    }
    return all;
}

std::string roleText(const FileProperty& property) {
    switch (property.role) {
        case FileRole::Read:
            return "file read";
        case FileRole::PatternRead:
            return "file or pattern read";
        case FileRole::Written:
            return "file written";
        case FileRole::Appended:
            break;
    }
    if (property.condition.empty()) return "file written or appended to";
    return "file written, appended to when " + property.condition + " is true";
}

std::string fileNameIn(const JobStep& step, std::string_view property) {
    const JobProperty* given = scalarIn(step, property);
    if (given == nullptr || given->value.getType() != mvbTypeString) return {};
    return std::string(given->value.asString().view());
}

}  // namespace texthost
