// The dialogs' resource identifiers, which res/Varnock.rc gives their templates,
// icon and texts.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_ITEM 101
#define IDD_MAIN 102
#define IDI_APP 128

#define IDC_SERIAL_SUFFIX 1000
#define IDC_OPEN 1001
#define IDC_WRITE 1002
#define IDC_FIRMWARE_VERSION 1018
#define IDC_RESERVED_VALUE 1019
#define IDC_CHANNEL_COUNT 1020
#define IDC_SERIAL_NUMBER 1021
#define IDC_PRODUCT_NAME 1022
#define IDC_HARDWARE_VERSION 1023

// System-menu command: the low four bits stay clear, as the system's own use them.
#define IDM_ABOUT 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
