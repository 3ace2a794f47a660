#include "step_catalogue.h"

const StepCatalogueEntry kStepCatalogue[] = {
    {"SOURCE_DELIMTEXT", "Text file source (comma delimited)", createTxtDelimSrc, "base"},
    {"SOURCE_FIXEDTEXT", "Text file source (fixed width)", createTxtFixedSrc, "base"},
    {"DEST_HTML", "HTML report output", createTxtHtmlDest, "base"},
    {"DEST_DELIMTEXT", "Text file output (comma delimited)", createTxtDelimDest, "base"},
    {"DEST_FIXEDTEXT", "Text file output (fixed width)", createTxtFixedDest, "base"},
};
const int kStepCatalogueSize = sizeof(kStepCatalogue) / sizeof(kStepCatalogue[0]);
