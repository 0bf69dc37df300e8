// Thin typed wrappers over a window handle, its system menu and painting.
#pragma once

#include <windows.h>

#include "platform/MessageMap.h"
#include "text/WideString.h"

// A menu handle that this program does not own (the system menu belongs to
// its window), so nothing here destroys it.
class CMenu {
public:
    static CMenu FromHandle(HMENU menu)
    {
        CMenu wrapped;
        wrapped.m_hMenu = menu;
        return wrapped;
    }
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const wchar_t* text = nullptr)
    {
        return ::AppendMenuW(m_hMenu, flags, id, text);
    }

    HMENU m_hMenu = nullptr;
};

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    HICON SetIcon(HICON icon, BOOL bigIcon)
    {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(icon)));
    }
    // The menu stays the window's; revert = TRUE would reset it first.
    CMenu GetSystemMenu(BOOL revert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert)); }

    // Centres a pop-up over its owner, or on the work area when it has none
    // (or the owner is hidden or minimized), keeping it inside the work area.
    void CenterWindow();

    HWND m_hWnd = nullptr;

protected:
    // The base handlers: a derived handler calls them for the default processing.
    void OnSysCommand(UINT /*id*/, LPARAM /*lParam*/) { SetMsgHandled(false); }
    void OnPaint() { SetMsgHandled(false); }
    HCURSOR OnQueryDragIcon()
    {
        SetMsgHandled(false);
        return nullptr;
    }

    // Commands that the window's own map leaves go on to the application's.
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// Painting between BeginPaint and EndPaint, for the life of the object.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd) : m_hWnd(wnd->GetSafeHwnd()) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
    HDC m_hDC = nullptr;
};

// The whole text of a window, and a new one.
CWideString GetWindowTextWide(HWND window);
void SetWindowTextWide(HWND window, const wchar_t* text);
