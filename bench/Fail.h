// How the benchmark gives up: a message, and no child left running.
#pragma once

#include <windows.h>

namespace bench {

// Prints "bench: " and the message, ends every child still watched, exits 2.
[[noreturn]] void Fail(const char* format, ...);

// The children that are running, so that a failure does not leave them behind.
void WatchChild(HANDLE process);
void ForgetChild(HANDLE process);

}  // namespace bench
