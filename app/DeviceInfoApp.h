// The application object: its whole life is one run of the main dialog.
#pragma once

#include "platform/Platform.h"

class CDeviceInfoApp : public CWinApp {
public:
    CDeviceInfoApp();
    ~CDeviceInfoApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
