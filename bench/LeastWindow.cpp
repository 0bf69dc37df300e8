#include "bench/LeastWindow.h"

#include <windows.h>

#include <cwchar>

#include "bench/Actions.h"
#include "bench/Fail.h"

namespace bench {

namespace {

DeviceLibrary g_library;
DeviceInfo g_leastInfo;

// Both of Varnock's actions begin by taking the seven fields' texts, so the
// floor does too.
void TakeTexts(HWND window)
{
    wchar_t text[64];
    for (const int id : kFieldIds) GetDlgItemTextW(window, id, text, 64);
}

// The seven display texts, roughly as Varnock builds them.
void ShowRecord(HWND window, const DeviceInfo& info)
{
    wchar_t name[sizeof info.productName + 1] = L"";
    for (size_t i = 0; i < sizeof info.productName && info.productName[i]; ++i) name[i] = wchar_t(info.productName[i]);
    const auto& serial = info.serialNumber;
    wchar_t texts[7][24];
    _snwprintf(texts[0], 24, L"%d", info.channelCount);
    _snwprintf(texts[1], 24, L"%04X", unsigned(info.firmwareVersion[0] | info.firmwareVersion[1] << 8));
    _snwprintf(texts[2], 24, L"%X.%X", info.hardwareVersion[1], info.hardwareVersion[0]);
    _snwprintf(texts[3], 24, L"%ls", name);
    _snwprintf(texts[4], 24, L"%c%c%c%c%c%c", serial[0], serial[1], serial[2], serial[3], serial[4], serial[5]);
    _snwprintf(texts[5], 24, L"%c%c", serial[6], serial[7]);
    _snwprintf(texts[6], 24, L"%d%d", info.reservedValue[1], info.reservedValue[0]);
    for (int i = 0; i < 7; ++i) SetDlgItemTextW(window, kFieldIds[i], texts[i]);
}

LRESULT CALLBACK LeastWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == kIdOpen) {
        TakeTexts(window);
        g_library.DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0);
        if (g_library.DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &g_leastInfo) == DEVICE_RESULT_OK)
            ShowRecord(window, g_leastInfo);
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kIdWrite) {
        TakeTexts(window);
        const DeviceResult written = g_library.DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &g_leastInfo);
        MessageBoxW(window, written == DEVICE_RESULT_OK ? kWriteSucceeded : L"write failed", L"Varnock",
                    MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// Varnock's manifest, taken from Varnock.exe, so that the least window and
// its message box have the same version of the controls as Varnock's.
void UseVarnockControls(const std::wstring& varnockPath)
{
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = varnockPath.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    const HANDLE handle = CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    if (handle == INVALID_HANDLE_VALUE || !ActivateActCtx(handle, &cookie))
        Fail("cannot take Varnock.exe's manifest (error %lu)", GetLastError());
}

}  // namespace

int RunLeastWindow(const std::wstring& folder)
{
    g_library = LoadDeviceLibrary(folder);
    UseVarnockControls(folder + L"Varnock.exe");
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = LeastWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kLeastWindowClass;
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(WS_EX_APPWINDOW, kLeastWindowClass, L"least window",
                                        WS_POPUP | WS_CAPTION | WS_SYSMENU, 100, 100, 580, 170,
                                        nullptr, nullptr, instance, nullptr);
    // Varnock's dialog font, 9 points at 96 dots per inch.
    const HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                   L"\u5B8B\u4F53");  // 宋体
    const auto add = [&](const wchar_t* className, int id, DWORD style, int x, int y, int width) {
        const HWND control = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, x, y, width, 20, window,
                                             HMENU(INT_PTR(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, WPARAM(font), FALSE);
    };
    add(L"BUTTON", kIdOpen, BS_PUSHBUTTON | WS_TABSTOP, 27, 20, 75);
    add(L"BUTTON", kIdWrite, BS_PUSHBUTTON | WS_TABSTOP, 142, 20, 75);
    for (int i = 0; i < 7; ++i)
        add(L"EDIT", kFieldIds[i], ES_AUTOHSCROLL | WS_BORDER | (kFieldIds[i] == 1000 ? 0 : WS_DISABLED),
            20 + 80 * i, 80, 75);
    if (!GetModuleHandleW(L"comctl32.dll")) Fail("the least window's controls are not common controls 6");
    ShowWindow(window, SW_SHOW);  // complete, as the driver finds it by being visible
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DeleteObject(font);
    return 0;
}

}  // namespace bench
