#include "platform/WinApp.h"

#include <commctrl.h>

#include "text/TextConversion.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const wchar_t* appName) : m_pszAppName(appName)
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

void CWinApp::Attach(HINSTANCE instance)
{
    m_hInstance = instance;
    if (m_pszAppName != nullptr)
        return;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    // The file name without folder and extension; nothing if the path was cut.
    DWORD start = 0;
    DWORD end = length < MAX_PATH ? length : 0;
    for (DWORD i = 0; i < end; ++i) {
        if (path[i] == L'\\' || path[i] == L'/')
            start = i + 1;
    }
    for (DWORD i = end; i > start; --i) {
        if (path[i - 1] == L'.') {
            end = i - 1;
            break;
        }
    }
    for (DWORD i = start; i < end; ++i)
        m_title[i - start] = path[i];
    m_title[end - start] = L'\0';
    m_pszAppName = m_title;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return 0;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    return ::LoadIconW(module, MAKEINTRESOURCEW(id));
}

CWinApp* AfxGetApp()
{
    return g_app;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_app != nullptr && g_app->m_hInstance != nullptr ? g_app->m_hInstance : GetModuleHandleW(nullptr);
}

HINSTANCE AfxFindResourceHandle(const wchar_t* /*name*/, const wchar_t* /*type*/)
{
    // All resources live in the executable; there are no resource DLLs.
    return AfxGetInstanceHandle();
}

CWideString AfxLoadString(UINT id)
{
    // With a zero length LoadStringW hands out a pointer to the resource's
    // own text, which is not terminated.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(AfxGetInstanceHandle(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text != nullptr ? CWideString(text, static_cast<size_t>(length)) : CWideString();
}

HWND AfxGetOwnerWindow(const CWnd* self)
{
    CWnd* main = g_app != nullptr ? g_app->m_pMainWnd : nullptr;
    if (main == nullptr || main == self || !IsWindow(main->GetSafeHwnd()))
        return nullptr;
    return GetLastActivePopup(main->GetSafeHwnd());
}

int AfxMessageBox(const CString& text, UINT type, UINT /*helpId*/)
{
    if ((type & MB_ICONMASK) == 0 && (type & MB_TYPEMASK) <= MB_OKCANCEL)
        type |= MB_ICONEXCLAMATION;
    const wchar_t* caption = g_app != nullptr ? g_app->m_pszAppName : nullptr;
    return MessageBoxW(AfxGetOwnerWindow(), Cp936ToWide(text).GetString(), caption, type);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    app->Attach(instance);
    // The manifest asks for version 6 of the common controls; their library
    // registers its classes here, before the first dialog needs them.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
