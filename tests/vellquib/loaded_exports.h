// The exports of a host library that a test loads by hand, looked up by the
// names of the interface's list; those the library lacks stay null.
#pragma once

#include <windows.h>

#include "vellquib.h"

struct LoadedExports {
#define QUIB_LOADED_EXPORT(type, name, parameters, needed) name##Proc name = nullptr;
    VELLQUIB_EXPORTS(QUIB_LOADED_EXPORT)
#undef QUIB_LOADED_EXPORT

    // True when the library has every export.
    bool LookUp(HMODULE library) {
        bool all = true;
#define QUIB_LOOK_UP_EXPORT(type, name, parameters, needed)                                       \
    name = reinterpret_cast<name##Proc>(reinterpret_cast<void*>(GetProcAddress(library, #name))); \
    all = all && name != nullptr;
        VELLQUIB_EXPORTS(QUIB_LOOK_UP_EXPORT)
#undef QUIB_LOOK_UP_EXPORT
        return all;
    }
};
