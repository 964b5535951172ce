// QuibDemo.exe: the program starts by creating, loading and showing frmDemo;
// it ends when the window is gone.
#include <windows.h>

#include "app/frmDemo.h"
#include "app/message_loop.h"
#include "bridge/host_loader.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // No library that the system or the program loads from here on comes from
    // the current folder.
    quib::modQUIB::RestrictDllSearch();
    quib::frmDemoOptions options;
    options.instance = instance;
    quib::frmDemo form(std::move(options));
    if (!form.Start(showCommand)) {
        return form.ExitCode();
    }
    return quib::app::RunMessageLoop(form.Handle());
}
