#include "step/host.h"

int findOutputItemByName(const StepOutputItems* items, const MvbString& name) {
    if (items == nullptr) return -1;
    for (int i = 0; i < items->count; ++i) {
        if (items->items[i].name == name) return i;
    }
    return -1;
}
