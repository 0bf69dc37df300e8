// How the benchmark gives up: a message, and no child left running.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

// Prints "bench: " and the message, ends every child still watched, deletes
// the files made for the run, exits 2.
[[noreturn]] void Fail(const char* format, ...);

// The children that are running, so that a failure does not leave them behind.
void WatchChild(HANDLE process);
void ForgetChild(HANDLE process);

// A file the run makes (the image, the ledgers), deleted on a failure too.
void RemoveOnFailure(const std::wstring& path);

}  // namespace bench
