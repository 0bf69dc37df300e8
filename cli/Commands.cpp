// read and write-suffix: the window's two actions for scripts; and what
// provision takes from the command line.
#include "cli/Commands.h"

#include "cli/Adapter.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Library.h"
#include "cli/Arguments.h"
#include "cli/Report.h"
#include "ledger/SuffixPool.h"

namespace {

// write-suffix's JSON: the same keys as provision's, where they apply.
CWideString WriteJson(const wchar_t* result, const CWideString& oldSerial, const CWideString& newSerial)
{
    return JsonLine().Text(L"result", Words(result)).Text(L"old_serial", oldSerial).Text(L"new_serial", newSerial)
        .Done();
}

}  // namespace

int ReadCommand(const Arguments& arguments)
{
    const bool json = arguments.Has(L"--json");
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

int WriteSuffixCommand(const Arguments& arguments)
{
    const wchar_t* argument = arguments.operand;
    const bool json = arguments.Has(L"--json");
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

bool WaitSeconds(const wchar_t* text, unsigned& seconds)
{
    constexpr unsigned kLongestWait = 600;
    seconds = 0;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        seconds = seconds * 10 + static_cast<unsigned>(*c - L'0');
        if (seconds > kLongestWait)
            return false;
    }
    return true;
}

// provision's values, which the table cannot check by their form alone.
int ProvisionCommand(const Arguments& arguments)
{
    ProvisionOptions options;
    options.ledger = arguments.operand;
    options.json = arguments.Has(L"--json");
    options.create = arguments.Has(L"--new");
    options.again = arguments.Has(L"--again");
    options.suffix = arguments.Value(L"--suffix");
    options.pool = arguments.Value(L"--pool", options.pool);
    if (arguments.Has(L"--pool") && options.suffix != nullptr)
        return UsageError(Words(L"provision takes --pool or --suffix, not both"));
    options.labelTemplate = arguments.Value(L"--label");
    options.printer = arguments.Value(L"--printer");
    if ((options.labelTemplate == nullptr) != (options.printer == nullptr))
        return UsageError(Words(L"provision takes --label and --printer together: the template, and where to print it"));
    const wchar_t* wait = arguments.Value(L"--wait");
    if (wait != nullptr)
        WaitSeconds(wait, options.waitSeconds);  // its form was checked as it was read

    // The pool is ASCII, or it is not a pool.
    char ascii[kLongestArgument + 1];
    size_t length = 0;
    for (const wchar_t* c = options.pool; *c != L'\0' && length < kLongestArgument; ++c)
        ascii[length++] = *c > 0 && *c < 0x80 ? static_cast<char>(*c) : '?';
    ascii[length] = '\0';
    SuffixPool parsed;
    const char* reason = nullptr;
    if (!ParseSuffixPool(ascii, parsed, reason))
        return UsageError(Words(L"the pool ", Quoted(options.pool), L" is not one: ", Ascii(reason)));
    return Provision(options);
}
