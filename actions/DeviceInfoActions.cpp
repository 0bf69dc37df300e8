#include "actions/DeviceInfoActions.h"

#include <cstring>

#include "actions/Messages.h"

namespace {

// Each byte through "%c" and appended: a zero byte adds nothing and the bytes
// after it still count. The record is never scanned for a terminator.
CString BytesAsText(const uint8_t* bytes, size_t count)
{
    CString text;
    for (size_t i = 0; i < count; ++i) {
        CString piece;
        piece.Format("%c", bytes[i]);
        text += piece;
    }
    return text;
}

}  // namespace

void BuildDeviceTexts(const DeviceInfo& info, const DeviceTexts& texts)
{
    texts.channelCount.Format("%d", static_cast<int>(info.channelCount));

    CString major, minor;
    major.Format("%0X.", static_cast<unsigned>(info.hardwareVersion[1]));
    minor.Format("%0X\n", static_cast<unsigned>(info.hardwareVersion[0]));
    texts.hardwareVersion = CString("V") + major + minor;

    texts.firmwareVersion.Format("%04X\n", static_cast<unsigned>(ReadLittleEndian16(info.firmwareVersion)));

    if (ReadLittleEndian16(info.reservedValue) == 0xFFFF) {
        texts.reservedValue.Empty();
    } else {
        // Decimal bytes behind the "0x": kept as operators know the field.
        CString high, low;
        high.Format("%d", static_cast<int>(info.reservedValue[1]));
        low.Format("%d\n", static_cast<int>(info.reservedValue[0]));
        texts.reservedValue = CString("0x") + high + low;
    }

    texts.productName = BytesAsText(info.productName, sizeof info.productName);
    texts.serialNumber = BytesAsText(info.serialNumber, 6);
    texts.serialSuffix = BytesAsText(info.serialNumber + 6, 2);
}

bool SuffixAccepted(const CString& suffix)
{
    return suffix.GetLength() == static_cast<int>(kSuffixLength);
}

ReadOutcome ReadDeviceInfo(const DeviceLibrary& library, DeviceInfoHost& host, const DeviceRecord& record,
                           const DeviceTexts& texts)
{
    host.TakeTexts();
    if (library.DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0) != DEVICE_RESULT_OK) {
        host.ShowMessage(Messages::kOpenFailed);
        return ReadOutcome::OpenFailed;
    }
    // Read into a scratch copy: a failed read may leave anything in it, and the
    // last good record must survive that untouched.
    DeviceInfo scratch = record.info;
    if (library.DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &scratch) != DEVICE_RESULT_OK) {
        host.ShowMessage(Messages::kReadFailed);
        return ReadOutcome::ReadFailed;
    }
    record.info = scratch;
    record.valid = true;
    BuildDeviceTexts(record.info, texts);
    host.PushTexts();
    return ReadOutcome::Read;
}

WriteOutcome WriteSerialSuffix(const DeviceLibrary& library, DeviceInfoHost& host, const DeviceRecord& record,
                               const DeviceTexts& texts)
{
    host.TakeTexts();
    const CString& serialSuffix = texts.serialSuffix;
    if (!record.valid) {
        host.ShowMessage(Messages::kOpenFirst);
        return WriteOutcome::NotRead;
    }
    if (!SuffixAccepted(serialSuffix)) {
        host.ShowMessage(Messages::kNeedTwoPlaces);
        return WriteOutcome::SuffixRefused;
    }
    record.info.serialNumber[6] = serialSuffix.GetAt(0);
    record.info.serialNumber[7] = serialSuffix.GetAt(1);

    // The library gets a copy, so nothing it does to the buffer reaches the
    // record a later write sends.
    DeviceInfo outgoing = record.info;
    if (library.DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &outgoing) != DEVICE_RESULT_OK) {
        host.ShowMessage(Messages::kWriteFailed);
        return WriteOutcome::WriteFailed;
    }
    host.ShowMessage(Messages::kWriteSucceeded);
    return WriteOutcome::Written;
}
