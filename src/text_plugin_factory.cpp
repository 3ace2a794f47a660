#include "text_plugin_factory.h"

#include "step_catalogue.h"

int TextPluginFactory::getStepCount() {
    return kStepCatalogueSize;
}

StepCreateFunction TextPluginFactory::getStepCreateFunction(int index) {
    return kStepCatalogue[index].create;
}

MvbString TextPluginFactory::getStepTypeId(int index) {
    return MvbString(kStepCatalogue[index].typeId, true);
}

MvbString TextPluginFactory::getStepDescription(int index) {
    return MvbString(kStepCatalogue[index].description, true);
}

bool TextPluginFactory::getStepTag(int index, int tagIndex, MvbString& tag, int* kind) {
    if (tagIndex > 0) return false;  // every step has exactly one tag, at index 0
    tag = kStepCatalogue[index].tag;
    *kind = 2;
    return true;
}
