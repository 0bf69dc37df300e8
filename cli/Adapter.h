// The window's actions on a console: read the adapter, and write a suffix
// and check it by reading back. The commands share these, so each reads the
// adapter it writes, and every write is checked the same way.
#pragma once

#include "actions/DeviceInfoActions.h"
#include "cli/Report.h"

// The actions' host: no window, so taking and pushing texts do nothing; the
// message is kept to be printed after the program's own English line.
class ConsoleHost final : public DeviceInfoHost {
public:
    CString channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix,
        reservedValue;
    CString message;

    DeviceTexts Texts()
    {
        return {channelCount, firmwareVersion, hardwareVersion, productName,
                serialNumber, serialSuffix,    reservedValue};
    }

    void TakeTexts() override {}
    void PushTexts() override {}
    void ShowMessage(const CString& text) override { message = text; }
};

struct Adapter {
    ConsoleHost host;
    DeviceInfo info{};  // as read; after a write, as sent
    bool valid = false;
    DeviceInfo readBack{};  // after a write, as read back, when it could be
    bool readBackValid = false;

    DeviceRecord Record() { return {info, valid}; }
    CWideString Serial() const { return SerialText(info.serialNumber, sizeof info.serialNumber); }
};

// The record's seven fields, as read prints them.
struct AdapterField {
    const wchar_t* name;
    CString ConsoleHost::*text;
};
extern const AdapterField kAdapterFields[7];

// The record's bytes as lowercase hex digits, two a byte; and back, from a
// ledger's record field (either case): false for one that is not 104 hex digits.
CWideString RecordHex(const DeviceInfo& info);
bool RecordFromHex(const CString& hex, DeviceInfo& info);

// The suffix as it would reach the adapter: `argument` in code page 936,
// exactly two bytes, no control character. False with the failure (5)
// otherwise; nothing is opened to check it.
bool SuffixBytes(const wchar_t* argument, CString& suffix, Failure& failure);

// Opens and reads the adapter: false with the failure (3 or 4).
bool ReadAdapter(const DeviceLibrary& library, Adapter& adapter, Failure& failure);

// Writes the record read with `suffix` in bytes 17 and 18, reads it back
// into a fresh record and compares all 52 bytes. False with the failure (6
// or 7). Afterwards `adapter.info` is the record as sent, and
// `adapter.readBack` the one read back when there was one.
bool WriteChecked(const DeviceLibrary& library, Adapter& adapter, const CString& suffix, Failure& failure);
