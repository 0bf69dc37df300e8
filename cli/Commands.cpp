// read and write-suffix: the window's two actions for scripts.
#include "cli/Commands.h"

#include "cli/Adapter.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Library.h"

namespace {

struct Field {
    const wchar_t* name;
    const CString& value;
};

// write-suffix's JSON: the same keys as provision's, where they apply.
CWideString WriteJson(const wchar_t* result, const CWideString& oldSerial, const CWideString& newSerial)
{
    CWideString json = Words(L"{\"result\":\"", result, L"\",\"old_serial\":");
    AppendJsonString(json, oldSerial);
    json.Append(L",\"new_serial\":");
    AppendJsonString(json, newSerial);
    json.Append(L"}\r\n");
    return json;
}

}  // namespace

int Finish(const CWideString& output, const CWideString& whatWasDone)
{
    if (WriteText(Stream::Out, output))
        return kSuccess;
    return Fail(kOutputFailed, Words(L"the output could not be written (is the disk full, or the pipe closed?); ",
                                     whatWasDone));
}

int Read(bool json)
{
    DeviceLibrary library;
    Adapter adapter;
    Failure failure;
    if (!LoadDeviceLibrary(library, failure) || !ReadAdapter(library, adapter, failure))
        return Fail(failure);

    const ConsoleHost& host = adapter.host;
    const Field fields[] = {
        {L"hardware", host.hardwareVersion}, {L"firmware", host.firmwareVersion},
        {L"reserved", host.reservedValue},   {L"channels", host.channelCount},
        {L"serial", host.serialNumber},      {L"suffix", host.serialSuffix},
        {L"product", host.productName},
    };
    CWideString out;
    if (!json) {
        for (const Field& field : fields)
            out.Append(Words(field.name, L": ", Shown(field.value), L"\r\n"));
    } else {
        out.Append(L"{");
        for (const Field& field : fields) {
            out.Append(Words(L"\"", field.name, L"\":"));
            AppendJsonString(out, Shown(field.value));
            out.Append(L",");
        }
        out.Append(L"\"record\":\"");
        const auto* bytes = reinterpret_cast<const uint8_t*>(&adapter.info);
        for (size_t i = 0; i < sizeof adapter.info; ++i)
            AppendHexByte(out, bytes[i]);
        out.Append(L"\"}\r\n");
    }
    return Finish(out, Words(L"the adapter was read, and nothing was written to it"));
}

int WriteSuffix(const wchar_t* argument, bool json)
{
    // The suffix is checked before the adapter is touched: a refused one
    // opens nothing.
    DeviceLibrary library;
    Adapter adapter;
    CString suffix;
    Failure failure;
    if (!SuffixBytes(argument, suffix, failure) || !LoadDeviceLibrary(library, failure) ||
        !ReadAdapter(library, adapter, failure))
        return Fail(failure);

    const CWideString oldSerial = adapter.Serial();
    if (!WriteChecked(library, adapter, suffix, failure)) {
        if (json)
            WriteText(Stream::Out, WriteJson(failure.code == kWriteFailed ? L"write_failed" : L"read_back_differs",
                                             oldSerial, adapter.Serial()));
        return Fail(failure);
    }
    const CWideString newSerial = adapter.Serial();
    const CWideString out = json ? WriteJson(L"written", oldSerial, newSerial)
                                 : Words(L"old-serial: ", oldSerial, L"\r\nnew-serial: ", newSerial, L"\r\n");
    return Finish(out, Words(L"the adapter was written and checked: its serial is now ", newSerial));
}
