#include "ui/DeviceInfoDlg.h"

#include "device/DeviceLibrary.h"
#include "ui/AboutBox.h"

CDeviceInfoDlg::CDeviceInfoDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    m_appIcon = AfxGetApp()->LoadIcon(IDI_APP);
}

CDeviceInfoDlg::~CDeviceInfoDlg() = default;

void CDeviceInfoDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_CHANNEL_COUNT, m_channelCount);
    DDX_Text(pDX, IDC_FIRMWARE_VERSION, m_firmwareVersion);
    DDX_Text(pDX, IDC_HARDWARE_VERSION, m_hardwareVersion);
    DDX_Text(pDX, IDC_PRODUCT_NAME, m_productName);
    DDX_Text(pDX, IDC_SERIAL_NUMBER, m_serialNumber);
    DDX_Text(pDX, IDC_SERIAL_SUFFIX, m_serialSuffix);
    DDX_Text(pDX, IDC_RESERVED_VALUE, m_reservedValue);
}

BEGIN_MESSAGE_MAP(CDeviceInfoDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_OPEN, OnOpen)
    ON_BN_CLICKED(IDC_WRITE, OnWrite)
END_MESSAGE_MAP()

BOOL CDeviceInfoDlg::OnInitDialog()
{
    CDialog::OnInitDialog();  // fills the fields: nothing below changes them

    // "About Varnock" at the end of the system menu.
    CMenu sysMenu = GetSystemMenu(FALSE);
    if (sysMenu.GetSafeHmenu() != nullptr) {
        const CWideString aboutItem = AfxLoadString(IDS_ABOUT_ITEM);
        if (!aboutItem.IsEmpty()) {
            sysMenu.AppendMenu(MF_SEPARATOR);
            sysMenu.AppendMenu(MF_STRING, IDM_ABOUT, aboutItem.GetString());
        }
    }

    SetIcon(m_appIcon, TRUE);
    SetIcon(m_appIcon, FALSE);
    return TRUE;  // the focus goes to the first tab stop, "退出"
}

void CDeviceInfoDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUT) {
        CAboutBox about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

// Draws the icon while the window is minimized; otherwise the dialog paints
// as usual.
void CDeviceInfoDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - cxIcon + 1) / 2;
        const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_appIcon);
    } else {
        CDialog::OnPaint();
    }
}

// The cursor while the minimized window is dragged.
HCURSOR CDeviceInfoDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_appIcon);
}

void CDeviceInfoDlg::OnOpen()
{
    ReadDeviceInfo(LinkedDeviceLibrary(), *this, {m_deviceInfo, m_deviceInfoValid}, Texts());
}

void CDeviceInfoDlg::OnWrite()
{
    WriteSerialSuffix(LinkedDeviceLibrary(), *this, {m_deviceInfo, m_deviceInfoValid}, Texts());
}

void CDeviceInfoDlg::TakeTexts()
{
    UpdateData(TRUE);
}

void CDeviceInfoDlg::PushTexts()
{
    UpdateData(FALSE);
}

void CDeviceInfoDlg::ShowMessage(const CString& text)
{
    AfxMessageBox(text);
}

DeviceTexts CDeviceInfoDlg::Texts()
{
    return {m_channelCount,  m_firmwareVersion, m_hardwareVersion, m_productName,
            m_serialNumber,  m_serialSuffix,    m_reservedValue};
}
