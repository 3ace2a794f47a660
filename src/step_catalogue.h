#pragma once

#include "step/plugin.h"

/// One row of the step catalogue.
struct StepCatalogueEntry {
    const char* typeId;
    const char* description;
    StepCreateFunction create;
    const char* tag;
};

/// The catalogue in index order; the index is the one every factory operation takes.
extern const StepCatalogueEntry kStepCatalogue[];
extern const int kStepCatalogueSize;

// The create functions of the five step classes, each defined beside its class. They allocate
// the step with the global allocation; std::bad_alloc and constructor exceptions pass on.
StepPluginStep* createTxtDelimSrc();
StepPluginStep* createTxtFixedSrc();
StepPluginStep* createTxtHtmlDest();
StepPluginStep* createTxtDelimDest();
StepPluginStep* createTxtFixedDest();
