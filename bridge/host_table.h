// The one table of function pointers through which the program reaches the
// host library. The loader fills it from vellquib.dll; tests fill it with a
// fake. Nothing else in the program knows which it is.
#pragma once

#include "vellquib.h"

namespace quib::modQUIB {

struct HostTable {
    InitDDEProc InitDDE = nullptr;
    KillDDEProc KillDDE = nullptr;
    QuibRegisterProc QuibRegister = nullptr;
    QuibUnregisterProc QuibUnregister = nullptr;
    QuibCommunicateProc QuibCommunicate = nullptr;
    QuibGetAllTextProc QuibGetAllText = nullptr;
    // Declared by the library's interface, never called; may be absent.
    IsVellThereProc IsVellThere = nullptr;
    QuibSendProc QuibSend = nullptr;
};

}  // namespace quib::modQUIB
