// The device library, loaded by the console program itself rather than by
// the system loader: a missing library or one of the other width is then a
// message and an exit code, never a system dialog that stops a batch.
#pragma once

#include <windows.h>

#include "cli/Report.h"
#include "device/DeviceLibrary.h"

// Loads Qelvo_CAN.dll from the folder varnock-cli.exe is in (never from the
// search path, so no other folder's copy can stand in for it) and binds
// exports 1, 6 and 5 by number. On failure, says why and what to do.
bool LoadDeviceLibrary(DeviceLibrary& library, Failure& failure);

// `function` bound to the export `name` of `module`; false when it has none.
template <class Function>
bool Bind(HMODULE module, const char* name, Function& function)
{
    const FARPROC address = GetProcAddress(module, name);
    // Through void(*)(): the one cast between function types GCC lets pass.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}
