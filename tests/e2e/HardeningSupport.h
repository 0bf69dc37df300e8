// What the hardening tests need beyond the harness: the clipboard, bursts of
// clicks, and telling a busy window from one that answers.
#pragma once

#include <windows.h>

#include <string>

#include "Harness.h"

namespace e2e {

// Puts `text` on the clipboard as CF_UNICODETEXT, exactly as given (lone
// surrogates included). False if the clipboard cannot be had.
bool SetClipboardText(const std::wstring& text);

// `count` presses and releases of the left button at the cursor's place, all
// in one SendInput, so they queue up faster than any handler can run.
void ClickBurst(int count);

// True if `window`'s thread takes a message within `timeout`.
bool Answers(HWND window, Milliseconds timeout);

// Waits until `window`'s thread stops taking messages (it is inside a
// blocking call). False if it kept answering for all of `timeout`.
bool WaitUntilBusy(HWND window, Milliseconds timeout);

}  // namespace e2e
