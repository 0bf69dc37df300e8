#include "otherwindows/OtherWindows.h"

#include <algorithm>
#include <cwchar>

namespace otherwindows {

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// A callback of the system's calling convention, which a lambda is not on i686.
BOOL CALLBACK CollectWindowOf(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId)
        search->found.push_back(window);
    return TRUE;
}

bool IsVisibleOfClass(HWND window, const wchar_t* className)
{
    return IsWindowVisible(window) && ClassName(window) == className;
}

struct DialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<DialogSearch*>(context);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsVisibleOfClass(window, L"#32770"))
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::vector<HWND> TopLevelWindows(DWORD processId)
{
    WindowSearch search{processId, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND MainWindow(DWORD processId, const wchar_t* className, const wchar_t* title)
{
    for (HWND window : TopLevelWindows(processId)) {
        if (GetWindow(window, GW_OWNER) != nullptr || !IsVisibleOfClass(window, className))
            continue;
        wchar_t text[64] = {};
        if (title && (!GetWindowTextW(window, text, 64) || std::wcscmp(text, title) != 0))
            continue;
        return window;
    }
    return nullptr;
}

HWND OwnedDialog(HWND owner, bool ownerThreadOnly)
{
    DialogSearch search{owner, nullptr};
    if (ownerThreadOnly) {
        EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), MatchOwnedDialog,
                          reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(owner, &processId);
    for (HWND window : TopLevelWindows(processId))
        if (!MatchOwnedDialog(window, reinterpret_cast<LPARAM>(&search)))
            break;
    return search.found;
}

bool ReadText(HWND window, UINT timeoutMs, std::wstring& text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length))
        return false;
    text.assign(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             timeoutMs, &copied))
        return false;
    text.resize(std::min<size_t>(copied, length));
    return true;
}

std::vector<HWND> StaticTextControls(HWND dialog)
{
    std::vector<HWND> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        // An icon control's "text" is its resource id.
        if (_wcsicmp(ClassName(child).c_str(), L"STATIC") == 0 &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            controls.push_back(child);
    }
    return controls;
}

}  // namespace otherwindows
