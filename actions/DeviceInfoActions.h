// The read action ("打开") and the write action ("写参数"). They reach the
// window only through DeviceInfoHost and the adapter only through a
// DeviceLibrary, so they run the same in the dialog and in tests.
#pragma once

#include "text/CString.h"
#include "device/DeviceInfo.h"
#include "device/DeviceLibrary.h"

// The host's seven display texts, which its take and push operations move
// to and from the window.
struct DeviceTexts {
    CString& channelCount;
    CString& firmwareVersion;
    CString& hardwareVersion;
    CString& productName;
    CString& serialNumber;
    CString& serialSuffix;
    CString& reservedValue;
};

class DeviceInfoHost {
public:
    virtual void TakeTexts() = 0;                       // window -> texts
    virtual void PushTexts() = 0;                       // texts -> window
    virtual void ShowMessage(const CString& text) = 0;  // modal, OK only

protected:
    ~DeviceInfoHost() = default;
};

// The record as the host keeps it. `info` holds only what a successful read
// delivered (plus the suffix bytes a write patched in); `valid` tells whether
// any read has succeeded yet.
struct DeviceRecord {
    DeviceInfo& info;
    bool& valid;
};

// Turns a record into the seven display texts.
void BuildDeviceTexts(const DeviceInfo& info, const DeviceTexts& texts);

// The write rule for a suffix: exactly two bytes of code page 936, one
// double-byte character or two single-byte ones.
bool SuffixAccepted(const CString& suffix);

// What an action came to, besides the message it showed. The window ignores
// it; the console program turns it into its exit code.
enum class ReadOutcome { Read, OpenFailed, ReadFailed };
enum class WriteOutcome { Written, NotRead, SuffixRefused, WriteFailed };

// Opens the adapter, reads its record and shows it.
ReadOutcome ReadDeviceInfo(const DeviceLibrary& library, DeviceInfoHost& host, const DeviceRecord& record,
                           const DeviceTexts& texts);

// Patches the two typed suffix bytes into the record and writes it back.
WriteOutcome WriteSerialSuffix(const DeviceLibrary& library, DeviceInfoHost& host, const DeviceRecord& record,
                               const DeviceTexts& texts);
