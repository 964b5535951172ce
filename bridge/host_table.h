// The one table of function pointers through which the program reaches the
// host library. The loader fills it from vellquib.dll; tests fill it with a
// fake. Nothing else in the program knows which it is.
#pragma once

#include "vellquib.h"

namespace quib::modQUIB {

// One pointer per export of the interface, named as the export. The two that
// are not needed (IsVellThere, QuibSend) are never called and may be absent.
struct HostTable {
#define QUIB_HOST_TABLE_ENTRY(type, name, parameters, needed) name##Proc name = nullptr;
    VELLQUIB_EXPORTS(QUIB_HOST_TABLE_ENTRY)
#undef QUIB_HOST_TABLE_ENTRY
};

}  // namespace quib::modQUIB
