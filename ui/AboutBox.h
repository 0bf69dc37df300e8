// The About box, opened from the main window's system menu.
#pragma once

#include "platform/Platform.h"
#include "ui/resource.h"

class CAboutBox : public CDialog {
public:
    CAboutBox();

    enum { IDD = IDD_ABOUT };

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
