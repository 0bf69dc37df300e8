#include "bench/ChildWindows.h"

#include "bench/Fail.h"
#include "otherwindows/OtherWindows.h"

namespace bench {

LRESULT Call(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kTimeoutMs, &result))
        Fail("the window did not answer message 0x%04x within %lu ms", message, kTimeoutMs);
    return LRESULT(result);
}

std::wstring WindowText(HWND window)
{
    std::wstring text;
    if (!otherwindows::ReadText(window, kTimeoutMs, text))
        Fail("the window did not give its text within %lu ms", kTimeoutMs);
    return text;
}

// The message is a message box's one static control with text.
std::wstring MessageBoxText(HWND box)
{
    for (HWND control : otherwindows::StaticTextControls(box)) {
        const std::wstring text = WindowText(control);
        if (!text.empty()) return text;
    }
    return std::wstring();
}

}  // namespace bench
