// Finding and reading the windows of another process, for the programs that
// drive Varnock from outside it: the benchmark and the end-to-end tests. No
// test framework here, so that both can link it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace otherwindows {

std::wstring ClassName(HWND window);

// The process's top-level windows, in Z order.
std::vector<HWND> TopLevelWindows(DWORD processId);

// The process's main window: visible, owned by no window, of this class, and
// with this title unless `title` is nullptr. nullptr while there is none.
HWND MainWindow(DWORD processId, const wchar_t* className, const wchar_t* title = nullptr);

// A visible dialog owned by `owner` (a message box, the About box), made by
// any thread of its process; nullptr while there is none. `ownerThreadOnly`
// looks at the owner's thread alone, far fewer windows than the desktop's,
// for a caller that asks in a loop while it times.
HWND OwnedDialog(HWND owner, bool ownerThreadOnly = false);

// The window's text, asked by message; false if its thread did not answer
// within `timeoutMs` (each of the two messages).
bool ReadText(HWND window, UINT timeoutMs, std::wstring& text);

// A dialog's static text controls, in order, icons left out: a message box's
// message is the one with text.
std::vector<HWND> StaticTextControls(HWND dialog);

}  // namespace otherwindows
