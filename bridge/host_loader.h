// Loads the host library from the program's own folder and fills a HostTable.
#pragma once

#include <memory>
#include <string>

#include "bridge/host_table.h"

namespace quib::modQUIB {

// Owns the loaded library; the table stays valid while this object lives.
class HostLibrary {
  public:
    // Loads fileName from the folder of the running program (and the system
    // folder), never from the current folder or PATH, so that a DLL planted
    // elsewhere is not picked up. A missing file is error 53, a missing export
    // of the six operations error 453; both name the file, the export and the
    // system's reason.
    static std::unique_ptr<HostLibrary> Load(const std::u16string& fileName = u"vellquib.dll");

    ~HostLibrary();
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    const HostTable& Table() const { return table_; }

  private:
    // The loaded library. Defined beside the system calls that load and free
    // it (win32/host_loader_win32.cpp), so that this header needs no system
    // header.
    struct Module;
    explicit HostLibrary(std::unique_ptr<Module> module);
    std::unique_ptr<Module> module_;
    HostTable table_;
};

}  // namespace quib::modQUIB
