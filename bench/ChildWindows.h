// The child's windows: asking a started program's window things, each answer
// within the benchmark's time-out or the benchmark fails. Finding its windows
// is otherwindows/, which the end-to-end tests use too.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

constexpr DWORD kTimeoutMs = 10000;
constexpr wchar_t kDialogClass[] = L"#32770";

// A message to the child's window, answered once its thread gets to it.
LRESULT Call(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::wstring WindowText(HWND window);
std::wstring MessageBoxText(HWND box);

}  // namespace bench
