#include "platform/Window.h"

#include <cwchar>

#include "platform/WinApp.h"

CWnd::~CWnd()
{
    // The application must not keep pointing at a window that is gone.
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

bool CWnd::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    CWinApp* app = AfxGetApp();
    if (message == WM_COMMAND && app != nullptr)
        return app->OnWndMsg(message, wParam, lParam, result);
    return false;
}

void CWnd::CenterWindow()
{
    HWND center = (GetWindowLongW(m_hWnd, GWL_STYLE) & WS_CHILD) ? ::GetParent(m_hWnd)
                                                                  : ::GetWindow(m_hWnd, GW_OWNER);
    if (center != nullptr && (!::IsWindowVisible(center) || ::IsIconic(center)))
        center = nullptr;

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT around;
    if (center == nullptr) {
        GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        around = monitor.rcWork;
    } else {
        GetMonitorInfoW(MonitorFromWindow(center, MONITOR_DEFAULTTONEAREST), &monitor);
        ::GetWindowRect(center, &around);
    }
    const RECT& area = monitor.rcWork;

    RECT own;
    ::GetWindowRect(m_hWnd, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int x = (around.left + around.right) / 2 - width / 2;
    int y = (around.top + around.bottom) / 2 - height / 2;
    // Inside the work area, with the caption visible if it must overhang.
    if (x + width > area.right)
        x = area.right - width;
    if (x < area.left)
        x = area.left;
    if (y + height > area.bottom)
        y = area.bottom - height;
    if (y < area.top)
        y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWideString GetWindowTextWide(HWND window)
{
    CWideString text;
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0)
        return text;
    const int copied = ::GetWindowTextW(window, text.GetBuffer(static_cast<size_t>(length)), length + 1);
    text.Truncate(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

// Text that is already there is not set again, as in the framework this
// stands in for: an unchanged field neither flickers nor loses its caret and
// selection, and a re-read that changes nothing costs no redraw.
void SetWindowTextWide(HWND window, const wchar_t* text)
{
    const size_t length = std::wcslen(text);
    const CWideString current = GetWindowTextWide(window);
    if (current.GetLength() == length && std::wmemcmp(current.GetString(), text, length) == 0)
        return;
    ::SetWindowTextW(window, text);
}
