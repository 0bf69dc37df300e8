// The least window, the floor for the actions: this driver, started again
// with --least-window, shows a plain window whose two buttons call the
// library directly, set the seven fields and show the message box. It is
// measured as Varnock is, from another process; Varnock's figures against
// its figures are what Varnock's own code costs.
#pragma once

#include <string>

namespace bench {

constexpr wchar_t kLeastWindowClass[] = L"VarnockBenchLeastWindow";

// Loads the library from `folder`, takes Varnock.exe's manifest from there,
// and runs the window until it is closed; returns the exit code.
int RunLeastWindow(const std::wstring& folder);

}  // namespace bench
