// read and write-suffix: the window's two actions for scripts.
#include "cli/Commands.h"

#include "cli/Adapter.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Library.h"

namespace {

// write-suffix's JSON: the same keys as provision's, where they apply.
CWideString WriteJson(const wchar_t* result, const CWideString& oldSerial, const CWideString& newSerial)
{
    return JsonLine().Text(L"result", Words(result)).Text(L"old_serial", oldSerial).Text(L"new_serial", newSerial)
        .Done();
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

    CWideString out;
    JsonLine line;
    for (const AdapterField& field : kAdapterFields) {
        const CWideString value = Shown(adapter.host.*field.text);
        if (json)
            line.Text(field.name, value);
        else
            out.Append(Words(field.name, L": ", value, L"\r\n"));
    }
    if (json)
        out = line.Text(L"record", RecordHex(adapter.info)).Done();
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
