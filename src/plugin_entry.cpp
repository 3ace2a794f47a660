// The library's two exports. Everything else is hidden (see exports.map).
#include "step/plugin.h"
#include "text_plugin_factory.h"

#define TEXT_EXPORT extern "C" __attribute__((visibility("default")))

TEXT_EXPORT StepPluginFactory* step_create_factory11() {
    return new TextPluginFactory();
}

TEXT_EXPORT int dtstep_text_entry(StepPluginEntry* entry) {
    entry->name = "Text";
    entry->createFactory = step_create_factory11;
    return 0;
}
