// A hook DLL that the end-to-end tests load into Varnock's GUI thread: on the
// tests' registered message it writes the window's system menu to the file
// named by VARNOCK_E2E_MENU_FILE, one item per line: type (hex), id, text
// (UTF-8). Under Wine a menu cannot be read from another process.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), length, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

std::string DescribeMenu(HMENU menu)
{
    std::string lines;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 255;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item))
            text[0] = L'\0';
        char head[32];
        wsprintfA(head, "%x %u ", item.fType, item.wID);
        lines += head + Utf8(text) + "\n";
    }
    return lines;
}

void WriteMenu(HWND window)
{
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"VARNOCK_E2E_MENU_FILE", path, MAX_PATH) == 0)
        return;
    const std::string lines = DescribeMenu(GetSystemMenu(window, FALSE));
    // Written beside, then moved into place: the test never sees half a file.
    const std::wstring partial = std::wstring(path) + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ReadSystemMenuHook(int code, WPARAM removal, LPARAM lParam)
{
    static const UINT ask = RegisterWindowMessageW(L"VarnockE2EReadSystemMenu");
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == ask)
        WriteMenu(message->hwnd);
    return CallNextHookEx(nullptr, code, removal, lParam);
}
