// The plug-in's boundary: its two exports, the factory and the catalogue.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "texthost/plugin_library.h"

namespace {

std::string pluginPath() {
    return texthost::defaultPluginPath();
}

TEST(PluginEntry, ExportsExactlyItsTwoEntryFunctions) {
    const std::string command = "nm -D --defined-only '" + pluginPath() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        const size_t end = text.find_last_not_of("\r\n");
        text.erase(end + 1);
        names.insert(text.substr(text.find_last_of(' ') + 1));
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(names, (std::set<std::string>{"dtstep_text_entry", "step_create_factory11"}));
}

TEST(PluginEntry, FactoryAnswersFromTheCatalogue) {
    texthost::PluginLibrary library(pluginPath());
    EXPECT_EQ(library.name(), "Text");
    StepPluginFactory* factory = library.factory();
    struct Row {
        const char* typeId;
        const char* description;
    };
    const Row rows[] = {
        {"SOURCE_DELIMTEXT", "Text file source (comma delimited)"},
        {"SOURCE_FIXEDTEXT", "Text file source (fixed width)"},
        {"DEST_HTML", "HTML report output"},
        {"DEST_DELIMTEXT", "Text file output (comma delimited)"},
        {"DEST_FIXEDTEXT", "Text file output (fixed width)"},
    };
    EXPECT_EQ(factory->getInterfaceVersion(), 2);
    ASSERT_EQ(factory->getStepCount(), 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].typeId);
        EXPECT_EQ(factory->getStepTypeId(i).view(), rows[i].typeId);
        EXPECT_EQ(factory->getStepDescription(i).view(), rows[i].description);
        MvbString tag;
        int kind = 0;
        EXPECT_TRUE(factory->getStepTag(i, 0, tag, &kind));
        EXPECT_EQ(tag.view(), "base");
        EXPECT_EQ(kind, 2);
        EXPECT_TRUE(factory->getStepTag(i, -1, tag, &kind));
        kind = 9;
        EXPECT_FALSE(factory->getStepTag(i, 1, tag, &kind));
        EXPECT_EQ(kind, 9);
        EXPECT_TRUE(factory->getStepText(i).empty());
        EXPECT_FALSE(factory->queryStepFlag(i, 3));
        EXPECT_FALSE(factory->queryStepData(i, 1, 2));
        EXPECT_EQ(factory->getStepExtension(i), nullptr);

        StepPluginStep* step = factory->getStepCreateFunction(i)();
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->queryExtension(0), nullptr);
        step->notifyEvent(1, 2);
        step->release();
    }
    EXPECT_EQ(factory->getExtraCount(), 0);
}

TEST(PluginEntry, FactoriesAreIndependent) {
    void* handle = dlopen(pluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto entryFunction = reinterpret_cast<StepEntryFunction>(dlsym(handle, kStepEntryFunctionName));
    ASSERT_NE(entryFunction, nullptr);
    StepPluginEntry entry;
    EXPECT_EQ(entryFunction(&entry), 0);
    EXPECT_STREQ(entry.name, "Text");
    StepPluginFactory* first = entry.createFactory();
    StepPluginFactory* second = entry.createFactory();
    EXPECT_NE(first, second);
    second->release();
    EXPECT_EQ(first->getStepCount(), 5);
    EXPECT_EQ(first->getStepTypeId(1).view(), "SOURCE_FIXEDTEXT");
    first->release();
    dlclose(handle);
}

}  // namespace
