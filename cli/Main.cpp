// varnock-cli: the read and write actions of Varnock.exe for scripts. The same
// actions, the same rules and the same library calls; the window's texts go to
// stdout and its messages to stderr, after an English line, and the outcome
// becomes the exit code.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "VarnockCliVersion.h"
#include "actions/DeviceInfoActions.h"
#include "actions/Messages.h"
#include "cli/Console.h"
#include "device/DeviceLibrary.h"
#include "text/TextConversion.h"

namespace {

enum ExitCode : int {
    kSuccess = 0,
    kUsageError = 2,
    kOpenFailed = 3,
    kReadFailed = 4,
    kSuffixRefused = 5,
    kWriteFailed = 6,
    kReadBackFailed = 7,
};

// No argument this program takes is longer; a longer one is a mistake, and
// is not echoed back whole.
constexpr size_t kLongestArgument = 64;

const wchar_t kHelp[] =
    L"Usage: varnock-cli COMMAND\r\n"
    L"\r\n"
    L"Reads the device information of the USB-to-CAN adapter (the first one, through\r\n"
    L"Qelvo_CAN.dll beside this program) and sets the last two characters of its\r\n"
    L"serial number, with the same rules as Varnock.exe.\r\n"
    L"\r\n"
    L"Commands:\r\n"
    L"  read              Prints the record's fields, one \"name: value\" line each:\r\n"
    L"                    hardware, firmware, reserved, channels, serial (the first six\r\n"
    L"                    characters of the serial number), suffix (the last two),\r\n"
    L"                    product.\r\n"
    L"  read --json       The same fields as one JSON object on one line, plus \"record\":\r\n"
    L"                    the 52 bytes as 104 lowercase hex digits. ASCII only.\r\n"
    L"  write-suffix XY   Sets the serial number's last two characters to XY: exactly\r\n"
    L"                    two bytes in code page 936, so one Chinese character or two\r\n"
    L"                    single-byte ones, taken as typed (also when XY begins with -).\r\n"
    L"                    Reads the record first, changes only those two bytes, writes\r\n"
    L"                    it, reads it back and compares. Prints old-serial and\r\n"
    L"                    new-serial.\r\n"
    L"  --help, -h, /?    Prints this text.\r\n"
    L"  --version         Prints the version.\r\n"
    L"\r\n"
    L"On a console, Chinese shows whatever the code page. Redirected to a file or a\r\n"
    L"pipe, the output is UTF-8 without a byte order mark, lines ending in CR LF.\r\n"
    L"Errors go to stderr: an English line that says what was wrong, then Varnock's\r\n"
    L"Chinese message where there is one.\r\n"
    L"\r\n"
    L"Exit codes:\r\n"
    L"  0  success\r\n"
    L"  2  usage error: unknown command or option, missing, extra, empty or overlong\r\n"
    L"     argument\r\n"
    L"  3  the adapter could not be opened\r\n"
    L"  4  the adapter's record could not be read\r\n"
    L"  5  suffix refused: not exactly two bytes in code page 936, or a character\r\n"
    L"     with no code page 936 form\r\n"
    L"  6  the write failed\r\n"
    L"  7  the write was reported done, but the record read back differs from the\r\n"
    L"     one sent, or could not be read back\r\n"
    L"Nothing is written to the adapter on exit codes 2 to 5.\r\n";

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

// Commands and options are ASCII; Windows users may type them in any case.
bool SameText(const wchar_t* typed, const wchar_t* name)
{
    for (;; ++typed, ++name) {
        const wchar_t lower = *typed >= L'A' && *typed <= L'Z' ? static_cast<wchar_t>(*typed - L'A' + L'a') : *typed;
        if (lower != *name)
            return false;
        if (*name == L'\0')
            return true;
    }
}

CWideString Decimal(size_t number)
{
    wchar_t digits[24];
    size_t start = sizeof digits / sizeof digits[0];
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    return CWideString(digits + start, sizeof digits / sizeof digits[0] - start);
}

void AppendHexByte(CWideString& to, uint8_t byte)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    to.Append(kDigits[byte >> 4]);
    to.Append(kDigits[byte & 0x0F]);
}

bool IsControl(wchar_t c)
{
    return c < 0x20 || c == 0x7F;
}

// A field as a person reads it: decoded from code page 936, without the
// window texts' line feeds or any other control character.
CWideString Shown(const CString& bytes)
{
    const CWideString decoded = Cp936ToWide(bytes);
    CWideString shown;
    for (size_t i = 0; i < decoded.GetLength(); ++i)
        if (!IsControl(decoded.GetString()[i]))
            shown.Append(decoded.GetString()[i]);
    return shown;
}

// An argument in a message, in quotes; control characters would break the
// line, so they show as U+FFFD.
CWideString Quoted(const wchar_t* argument)
{
    CWideString quoted;
    quoted.Append(L'"');
    for (const wchar_t* c = argument; *c != L'\0'; ++c)
        quoted.Append(IsControl(*c) ? static_cast<wchar_t>(0xFFFD) : *c);
    quoted.Append(L'"');
    return quoted;
}

// One English line on stderr, then the window's message for the same failure
// when there is one; returns `code`.
int Fail(int code, const CWideString& what, const CString& message = CString())
{
    CWideString text;
    text.Append(L"varnock-cli: ");
    text.Append(what);
    text.Append(L"\r\n");
    if (!message.IsEmpty()) {
        text.Append(Cp936ToWide(message));
        text.Append(L"\r\n");
    }
    WriteText(Stream::Err, text);
    return code;
}

int UsageError(const CWideString& what)
{
    CWideString text = what;
    text.Append(L" (see varnock-cli --help)");
    return Fail(kUsageError, text);
}

// A message's pieces, texts and numbers, joined.
template <class... Pieces>
CWideString Words(const Pieces&... pieces)
{
    CWideString text;
    (text.Append(pieces), ...);
    return text;
}

int ReadFailure(ReadOutcome outcome, const CString& message)
{
    if (outcome == ReadOutcome::OpenFailed)
        return Fail(kOpenFailed,
                    Words(L"cannot open the adapter (device type 2, index 0): is it plugged in and its driver "
                          L"installed?"),
                    message);
    return Fail(kReadFailed, Words(L"the adapter opened, but its device information could not be read"), message);
}

struct Field {
    const wchar_t* name;
    const CString& value;
};

int Read(bool json)
{
    ConsoleHost host;
    DeviceInfo info{};
    bool valid = false;
    const ReadOutcome outcome = ReadDeviceInfo(LinkedDeviceLibrary(), host, {info, valid}, host.Texts());
    if (outcome != ReadOutcome::Read)
        return ReadFailure(outcome, host.message);

    const Field fields[] = {
        {L"hardware", host.hardwareVersion}, {L"firmware", host.firmwareVersion},
        {L"reserved", host.reservedValue},   {L"channels", host.channelCount},
        {L"serial", host.serialNumber},      {L"suffix", host.serialSuffix},
        {L"product", host.productName},
    };
    CWideString out;
    if (!json) {
        for (const Field& field : fields) {
            out.Append(field.name);
            out.Append(L": ");
            out.Append(Shown(field.value));
            out.Append(L"\r\n");
        }
    } else {
        // ASCII only, so any console, pipe or file carries it: everything else
        // as \u escapes of its UTF-16 units (a surrogate pair as two).
        out.Append(L"{");
        for (const Field& field : fields) {
            out.Append(L"\"");
            out.Append(field.name);
            out.Append(L"\":\"");
            const CWideString value = Shown(field.value);
            for (size_t i = 0; i < value.GetLength(); ++i) {
                const wchar_t c = value.GetString()[i];
                if (c == L'"' || c == L'\\') {
                    out.Append(L'\\');
                    out.Append(c);
                } else if (c < 0x7F) {
                    out.Append(c);
                } else {
                    out.Append(L"\\u");
                    AppendHexByte(out, static_cast<uint8_t>(c >> 8));
                    AppendHexByte(out, static_cast<uint8_t>(c & 0xFF));
                }
            }
            out.Append(L"\",");
        }
        out.Append(L"\"record\":\"");
        const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
        for (size_t i = 0; i < sizeof info; ++i)
            AppendHexByte(out, bytes[i]);
        out.Append(L"\"}\r\n");
    }
    WriteText(Stream::Out, out);
    return kSuccess;
}

int WriteSuffix(const wchar_t* argument)
{
    // The suffix is checked before the adapter is touched: a refused one
    // opens nothing.
    CString suffix;
    if (!WideToCp936(CWideString(argument, std::wcslen(argument)), suffix))
        return Fail(kSuffixRefused,
                    Words(L"the suffix ", Quoted(argument),
                          L" has a character with no code page 936 form; it must be one Chinese character or two "
                          L"single-byte characters"),
                    Messages::kNeedTwoPlaces);
    if (!SuffixAccepted(suffix))
        return Fail(kSuffixRefused,
                    Words(L"the suffix ", Quoted(argument), L" is ", Decimal(static_cast<size_t>(suffix.GetLength())),
                          L" bytes in code page 936; it must be exactly 2 (one Chinese character or two "
                          L"single-byte characters)"),
                    Messages::kNeedTwoPlaces);

    const DeviceLibrary& library = LinkedDeviceLibrary();
    ConsoleHost host;
    DeviceInfo info{};
    bool valid = false;
    const DeviceRecord record = {info, valid};
    const ReadOutcome read = ReadDeviceInfo(library, host, record, host.Texts());
    if (read != ReadOutcome::Read)
        return ReadFailure(read, host.message);
    const CWideString oldSerial = Shown(host.serialNumber + host.serialSuffix);

    host.serialSuffix = suffix;
    switch (WriteSerialSuffix(library, host, record, host.Texts())) {
    case WriteOutcome::Written:
        break;
    case WriteOutcome::NotRead:  // not after the read above; still, nothing was sent
        return Fail(kReadFailed, Words(L"no record was read, so nothing was written"), host.message);
    case WriteOutcome::SuffixRefused:  // checked above; still, nothing was sent
        return Fail(kSuffixRefused, Words(L"the suffix was refused, so nothing was written"), host.message);
    case WriteOutcome::WriteFailed:
        return Fail(kWriteFailed,
                    Words(L"the adapter refused the write; its record may or may not have changed, so read it "
                          L"again"),
                    host.message);
    }

    // `info` is now the record as sent. A fresh read must give it back whole.
    ConsoleHost check;
    DeviceInfo readBack{};
    bool readBackValid = false;
    if (ReadDeviceInfo(library, check, {readBack, readBackValid}, check.Texts()) != ReadOutcome::Read)
        return Fail(kReadBackFailed,
                    Words(L"the write was reported done, but the record could not be read back to check it"),
                    check.message);
    const auto* sent = reinterpret_cast<const uint8_t*>(&info);
    const auto* got = reinterpret_cast<const uint8_t*>(&readBack);
    for (size_t i = 0; i < sizeof info; ++i) {
        if (sent[i] != got[i]) {
            CWideString what = Words(L"the write was reported done, but the adapter reads back another record: byte ",
                                     Decimal(i), L" is 0x");
            AppendHexByte(what, got[i]);
            what.Append(L" where 0x");
            AppendHexByte(what, sent[i]);
            what.Append(L" was written");
            return Fail(kReadBackFailed, what);
        }
    }

    CWideString out;
    out.Append(L"old-serial: ");
    out.Append(oldSerial);
    out.Append(L"\r\nnew-serial: ");
    out.Append(Shown(check.serialNumber + check.serialSuffix));
    out.Append(L"\r\n");
    WriteText(Stream::Out, out);
    return kSuccess;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // Every argument is looked at before any is acted on.
    for (int i = 1; i < argc; ++i) {
        const size_t length = std::wcslen(argv[i]);
        if (length == 0)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is empty"));
        if (length > kLongestArgument)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is ", Decimal(length),
                                    L" characters long; none may be longer than 64"));
    }
    if (argc < 2)
        return UsageError(Words(L"no command given; the commands are read and write-suffix"));

    const wchar_t* command = argv[1];
    if (SameText(command, L"--help") || SameText(command, L"-h") || SameText(command, L"/?")) {
        if (argc > 2)
            return UsageError(Words(L"--help takes no argument, but got ", Quoted(argv[2])));
        WriteText(Stream::Out, CWideString(kHelp, sizeof kHelp / sizeof kHelp[0] - 1));
        return kSuccess;
    }
    if (SameText(command, L"--version")) {
        if (argc > 2)
            return UsageError(Words(L"--version takes no argument, but got ", Quoted(argv[2])));
        WriteText(Stream::Out, Words(L"varnock-cli ", VARNOCK_CLI_VERSION, L"\r\n"));
        return kSuccess;
    }
    if (SameText(command, L"read")) {
        bool json = false;
        for (int i = 2; i < argc; ++i) {
            if (SameText(argv[i], L"--json") && json)
                return UsageError(Words(L"read takes --json once"));
            else if (SameText(argv[i], L"--json"))
                json = true;
            else if (argv[i][0] == L'-')
                return UsageError(Words(L"read does not take the option ", Quoted(argv[i]), L"; it takes --json"));
            else
                return UsageError(Words(L"read takes no argument, but got ", Quoted(argv[i])));
        }
        return Read(json);
    }
    if (SameText(command, L"write-suffix")) {
        if (argc < 3)
            return UsageError(Words(L"write-suffix needs the suffix, as in: varnock-cli write-suffix AB"));
        if (argc > 3)
            return UsageError(Words(L"write-suffix takes one suffix, but got ",
                                    Decimal(static_cast<size_t>(argc - 2)),
                                    L" arguments; quote a suffix with a space in it"));
        return WriteSuffix(argv[2]);
    }
    if (command[0] == L'-' || command[0] == L'/')
        return UsageError(Words(L"unknown option ", Quoted(command)));
    return UsageError(Words(L"unknown command ", Quoted(command), L"; the commands are read and write-suffix"));
}
