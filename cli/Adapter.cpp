#include "cli/Adapter.h"

#include <cwchar>

#include "actions/Messages.h"
#include "cli/ExitCodes.h"
#include "text/TextConversion.h"

const AdapterField kAdapterFields[7] = {
    {L"hardware", &ConsoleHost::hardwareVersion}, {L"firmware", &ConsoleHost::firmwareVersion},
    {L"reserved", &ConsoleHost::reservedValue},   {L"channels", &ConsoleHost::channelCount},
    {L"serial", &ConsoleHost::serialNumber},      {L"suffix", &ConsoleHost::serialSuffix},
    {L"product", &ConsoleHost::productName},
};

CWideString RecordHex(const DeviceInfo& info)
{
    CWideString hex;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        AppendHexByte(hex, bytes[i]);
    return hex;
}

bool RecordFromHex(const CString& hex, DeviceInfo& info)
{
    const auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    if (hex.GetLength() != 2 * static_cast<int>(sizeof info))
        return false;
    auto* bytes = reinterpret_cast<uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) {
        const int high = digit(hex.GetString()[2 * i]), low = digit(hex.GetString()[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool SuffixBytes(const wchar_t* argument, CString& suffix, Failure& failure)
{
    failure.code = kSuffixRefused;
    failure.message = Messages::kNeedTwoPlaces;
    // A carriage return from a file with CRLF line ends is two bytes with
    // the digit before it: it must never reach the serial.
    for (const wchar_t* c = argument; *c != L'\0'; ++c) {
        if (IsControl(*c)) {
            failure.what = Words(L"the suffix ", Quoted(argument),
                                 L" has a control character in it; it must be one Chinese character or two "
                                 L"single-byte characters");
            return false;
        }
    }
    if (!WideToCp936(CWideString(argument, std::wcslen(argument)), suffix)) {
        failure.what = Words(L"the suffix ", Quoted(argument),
                             L" has a character with no code page 936 form; it must be one Chinese character or "
                             L"two single-byte characters");
        return false;
    }
    if (!SuffixAccepted(suffix)) {
        failure.what = Words(L"the suffix ", Quoted(argument), L" is ", Decimal(static_cast<size_t>(suffix.GetLength())),
                             L" bytes in code page 936; it must be exactly 2 (one Chinese character or two "
                             L"single-byte characters)");
        return false;
    }
    return true;
}

bool ReadAdapter(const DeviceLibrary& library, Adapter& adapter, Failure& failure)
{
    switch (ReadDeviceInfo(library, adapter.host, adapter.Record(), adapter.host.Texts())) {
    case ReadOutcome::Read:
        return true;
    case ReadOutcome::OpenFailed:
        failure = {kOpenFailed,
                   Words(L"cannot open the adapter (device type 2, index 0): is it plugged in and its driver "
                         L"installed?"),
                   adapter.host.message};
        return false;
    case ReadOutcome::ReadFailed:
        break;
    }
    failure = {kReadFailed, Words(L"the adapter opened, but its device information could not be read"),
               adapter.host.message};
    return false;
}

bool WriteChecked(const DeviceLibrary& library, Adapter& adapter, const CString& suffix, Failure& failure)
{
    adapter.host.serialSuffix = suffix;
    switch (WriteSerialSuffix(library, adapter.host, adapter.Record(), adapter.host.Texts())) {
    case WriteOutcome::Written:
        break;
    case WriteOutcome::NotRead:  // never after a read; still, nothing was sent
        failure = {kReadFailed, Words(L"no record was read, so nothing was written"), adapter.host.message};
        return false;
    case WriteOutcome::SuffixRefused:  // checked before; still, nothing was sent
        failure = {kSuffixRefused, Words(L"the suffix was refused, so nothing was written"), adapter.host.message};
        return false;
    case WriteOutcome::WriteFailed:
        failure = {kWriteFailed,
                   Words(L"the adapter refused the write; its record may or may not have changed, so read it "
                         L"again"),
                   adapter.host.message};
        return false;
    }

    // `info` is now the record as sent. A fresh read must give it back whole.
    Adapter check;
    if (ReadDeviceInfo(library, check.host, check.Record(), check.host.Texts()) != ReadOutcome::Read) {
        failure = {kReadBackFailed,
                   Words(L"the write was reported done, but the record could not be read back to check it"),
                   check.host.message};
        return false;
    }
    adapter.readBack = check.info;
    adapter.readBackValid = true;
    const auto* sent = reinterpret_cast<const uint8_t*>(&adapter.info);
    const auto* got = reinterpret_cast<const uint8_t*>(&check.info);
    for (size_t i = 0; i < sizeof adapter.info; ++i) {
        if (sent[i] != got[i]) {
            CWideString what = Words(L"the write was reported done, but the adapter reads back another record: byte ",
                                     Decimal(i), L" is 0x");
            AppendHexByte(what, got[i]);
            what.Append(L" where 0x");
            AppendHexByte(what, sent[i]);
            what.Append(L" was written");
            failure = {kReadBackFailed, what, CString()};
            return false;
        }
    }
    return true;
}
