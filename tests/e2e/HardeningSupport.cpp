#include "HardeningSupport.h"

#include <cstring>
#include <vector>

namespace e2e {

bool SetClipboardText(const std::wstring& text)
{
    // Another process (Wine's own, or the last Varnock) may hold it a moment.
    if (!WaitFor([] { return OpenClipboard(nullptr) != FALSE; }, Milliseconds(2000)))
        return false;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (memory != nullptr) {
        void* data = GlobalLock(memory);
        std::memcpy(data, text.c_str(), bytes);
        GlobalUnlock(memory);
        placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!placed)
            GlobalFree(memory);  // the clipboard owns it only once set
    }
    CloseClipboard();
    return placed;
}

void ClickBurst(int count)
{
    std::vector<INPUT> inputs;
    for (int i = 0; i < count; ++i) {
        for (DWORD flag : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
            INPUT input{};
            input.type = INPUT_MOUSE;
            input.mi.dwFlags = flag;
            inputs.push_back(input);
        }
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

bool Answers(HWND window, Milliseconds timeout)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeout.count()), &ignored) !=
           0;
}

bool WaitUntilBusy(HWND window, Milliseconds timeout)
{
    return WaitFor([&] { return !Answers(window, Milliseconds(100)); }, timeout);
}

}  // namespace e2e
