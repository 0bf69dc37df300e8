#include "app/DeviceInfoApp.h"

#include "ui/DeviceInfoDlg.h"

// The one application object. With no name of its own, the title is the
// executable's name: Varnock.
CDeviceInfoApp theApp;

CDeviceInfoApp::CDeviceInfoApp() = default;

CDeviceInfoApp::~CDeviceInfoApp() = default;

BEGIN_MESSAGE_MAP(CDeviceInfoApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CDeviceInfoApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControls();

    CDeviceInfoDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();  // OK or Cancel: either way the program ends

    // FALSE: no message loop of our own; the program ends here.
    return FALSE;
}
