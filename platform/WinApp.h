// The application object and the program's entry point. The program defines
// exactly one global object of a class derived from CWinApp; the entry point
// (in WinApp.cpp) finds it, calls its InitInstance and ends when that returns
// FALSE. A TRUE would run a message loop until WM_QUIT.
#pragma once

#include <windows.h>

#include "text/CString.h"
#include "platform/MessageMap.h"
#include "text/WideString.h"
#include "platform/Window.h"

constexpr UINT ID_HELP = 0xE146;  // the help command (F1)

class CWinApp : public CCmdTarget {
public:
    // appName: the title of the program's windows and message boxes; none
    // means the executable's name without its extension.
    explicit CWinApp(const wchar_t* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    // Icon `id` of the application's resources, at the system's icon size.
    HICON LoadIcon(UINT id) const;

    // Called once by the entry point: the module's handle, and the title.
    void Attach(HINSTANCE instance);

    // The help command. No help file belongs to the program, so it shows nothing.
    void OnHelp() {}

    const wchar_t* m_pszAppName = nullptr;
    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;  // owner of message boxes and of dialogs that name none

protected:
    // Dialog controls have been drawn 3-D by Windows itself since Windows 95.
    BOOL Enable3dControls() { return TRUE; }

private:
    wchar_t m_title[MAX_PATH] = {};
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// The module that holds resource `name` of `type`: the executable.
HINSTANCE AfxFindResourceHandle(const wchar_t* name, const wchar_t* type);
// String `id` of the string table; empty when there is none.
CWideString AfxLoadString(UINT id);
// The window that owns dialogs and message boxes that name no owner: the main
// window's last active pop-up, unless that is `self` or there is none.
HWND AfxGetOwnerWindow(const CWnd* self = nullptr);

// A modal message box over the main window with the application's title as
// caption; an OK box that names no icon gets the exclamation mark.
int AfxMessageBox(const CString& text, UINT type = MB_OK, UINT helpId = 0);

// Hosting of embedded (ActiveX) controls: no template has one, so nothing to set up.
inline void AfxEnableControlContainer() {}
