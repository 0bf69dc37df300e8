// label: prints a provisioned adapter's label again, from its row in the
// ledger, with nothing sent to the adapter: for a jammed printer or a lost
// label. The label is the one provision printed, byte for byte, but where
// the template or its values have changed since.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Label.h"

namespace {

// Keeps the fields of the row that starts on one line.
class RowAt final : public LedgerFieldSink {
public:
    explicit RowAt(size_t line) : m_line(line) {}
    void Field(size_t line, size_t index, const char* bytes, size_t length) override
    {
        if (line == m_line)
            found = SetLedgerRowField(row, index, bytes, length) || found;
    }

    LedgerRow row;
    bool found = false;

private:
    size_t m_line;
};

}  // namespace

bool LineNumber(const wchar_t* text, size_t& line)
{
    line = 0;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9' || line > 100000000)
            return false;
        line = line * 10 + static_cast<size_t>(*c - L'0');
    }
    return line > 0;
}

int LabelCommand(const Arguments& arguments)
{
    const wchar_t* templatePath = arguments.Value(L"--label");
    const wchar_t* printer = arguments.Value(L"--printer");
    const bool json = arguments.Has(L"--json");
    size_t line = 0;
    LineNumber(arguments.Value(L"--line", L""), line);  // its form was checked as it was read
    unsigned wait = 30;
    if (arguments.Has(L"--wait"))
        WaitSeconds(arguments.Value(L"--wait"), wait);

    Failure failure;
    LabelTemplate label;
    LedgerFile file;
    Ledger ledger;
    RowAt found(line);
    if (!ReadLabelTemplate(templatePath, label, failure) || !file.Open(arguments.operand, failure) ||
        !file.Lock(wait, failure) || !ReadLedger(file, ledger, &found, failure) || !file.CheckNotRewound(failure))
        return Fail(failure);
    file.Unlock();

    const LedgerRow& row = found.row;
    DeviceInfo info{};
    if (!found.found)
        failure.what = line < ledger.FirstRowLine()
                           ? Words(L"line ", Decimal(line), L" of the ledger is its header, not a row")
                           : Words(L"no row of the ledger starts on line ", Decimal(line), L"; its rows end before line ",
                                   Decimal(ledger.NextLine()));
    else if (!(row.event == CString(kEventProvisioned)))
        failure.what = Words(L"line ", Decimal(line), L" is a ", Utf8ToWide(row.event), L" row for ",
                             Utf8ToWide(row.newSerial), L", not a provisioned one: a label is printed for a serial "
                             L"the ledger gave out, from its provisioned row");
    else if (!RecordFromHex(row.record, info))
        failure.what = Words(L"the record of the provisioned row at line ", Decimal(line),
                             L" is not 104 hex digits, so the adapter's values are not known");
    if (!failure.what.IsEmpty()) {
        failure.code = kLabelRefused;
        return Fail(failure);
    }

    Adapter adapter;
    BuildDeviceTexts(info, adapter.host.Texts());
    CString zpl;
    size_t labelledLine = 0;
    if (!FillLabel(label, LabelValuesOf(adapter.host, row, line), templatePath, zpl, failure))
        return Fail(failure);
    if (!PrintAndRecord(zpl, printer, file, wait, row, nullptr, labelledLine, failure)) {
        if (failure.code == kLabelNotPrinted)
            failure.what.Append(L"; nothing was recorded, and the same command prints it once the printer is ready");
        return Fail(failure);
    }
    const CWideString serial = Utf8ToWide(row.newSerial);
    const CWideString out =
        json ? JsonLine().Text(L"result", Words(L"labelled")).Text(L"serial", serial).Number(L"ledger_line", line)
                   .Number(L"labelled_line", labelledLine).Done()
             : Words(L"serial: ", serial, L"\r\nledger-line: ", Decimal(line), L"\r\nlabelled-line: ",
                     Decimal(labelledLine), L"\r\n");
    return Finish(out, Words(L"the label for ", serial, L" was printed, and recorded at ledger line ",
                             Decimal(labelledLine)));
}
