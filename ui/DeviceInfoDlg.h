// The main window: shows the adapter's device information record and lets the
// operator rewrite the last two characters of its serial number.
#pragma once

#include "text/CString.h"
#include "actions/DeviceInfoActions.h"
#include "device/DeviceInfo.h"
#include "platform/Platform.h"
#include "ui/resource.h"

class CDeviceInfoDlg : public CDialog, public DeviceInfoHost {
public:
    explicit CDeviceInfoDlg(CWnd* pParent = nullptr);
    ~CDeviceInfoDlg() override;

    enum { IDD = IDD_MAIN };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOpen();
    void OnWrite();

    DECLARE_MESSAGE_MAP()

private:
    // What the two actions need of the window.
    void TakeTexts() override;
    void PushTexts() override;
    void ShowMessage(const CString& text) override;

    DeviceTexts Texts();

    // Zeroed rather than left undefined; nothing sends it before a good read.
    DeviceInfo m_deviceInfo{};
    bool m_deviceInfoValid = false;  // a read has succeeded
    CString m_channelCount;
    CString m_firmwareVersion;
    CString m_hardwareVersion;
    CString m_productName;
    CString m_serialNumber;
    CString m_serialSuffix;
    CString m_reservedValue;
    HICON m_appIcon;
};
