// varnock-cli: the read and write actions of Varnock.exe for scripts, and
// provisioning a line of adapters against a shared ledger. The same actions,
// the same rules and the same library calls; the window's texts go to stdout
// and its messages to stderr, after an English line, and the outcome becomes
// the exit code. This file reads the command line; the commands are in
// Commands.cpp and Provision.cpp.
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <cwchar>

#include "VarnockCliVersion.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Report.h"
#include "ledger/SuffixPool.h"

namespace {

// No argument this program takes is longer, but for provision's ledger, which
// is a path; a longer one is a mistake, and is not echoed back whole.
constexpr size_t kLongestArgument = 64;
constexpr size_t kLongestPath = 1024;
constexpr unsigned kLongestWait = 600;

const wchar_t kHelp[] =
    L"Usage: varnock-cli COMMAND\r\n"
    L"\r\n"
    L"Reads the device information of the USB-to-CAN adapter (the first one, through\r\n"
    L"Qelvo_CAN.dll beside this program) and sets the last two characters of its\r\n"
    L"serial number, with the same rules as Varnock.exe.\r\n"
    L"\r\n"
    L"Commands:\r\n"
    L"  read [--json]     Prints the record's fields, one \"name: value\" line each:\r\n"
    L"                    hardware, firmware, reserved, channels, serial (the first six\r\n"
    L"                    characters of the serial number), suffix (the last two),\r\n"
    L"                    product. With --json, one JSON object on one line, plus\r\n"
    L"                    \"record\": the 52 bytes as 104 lowercase hex digits. ASCII only.\r\n"
    L"  write-suffix XY [--json]\r\n"
    L"                    Sets the serial number's last two characters to XY: exactly\r\n"
    L"                    two bytes in code page 936, so one Chinese character or two\r\n"
    L"                    single-byte ones, no control character, taken as typed (also\r\n"
    L"                    when XY begins with -). Reads the record first, changes only\r\n"
    L"                    those two bytes, writes it, reads it back and compares.\r\n"
    L"                    Prints old-serial and new-serial (with --json: result,\r\n"
    L"                    old_serial, new_serial).\r\n"
    L"  provision LEDGER [--pool FIRST-LAST | --suffix XY] [--new] [--again] [--json]\r\n"
    L"                   [--wait SECONDS]\r\n"
    L"                    Gives the adapter a serial that LEDGER (a CSV file, which\r\n"
    L"                    stations may share in a network folder) has never given out,\r\n"
    L"                    reserved nor seen, then writes it as write-suffix does and\r\n"
    L"                    records it. The suffix is the first free one of the pool\r\n"
    L"                    (default 01-99; two characters 0-9 A-Z each end, AY-B1 is AY\r\n"
    L"                    AZ B0 B1), or XY. After a failed or cut-short run, run it\r\n"
    L"                    again: an adapter that holds what that run meant to write is\r\n"
    L"                    recorded as provisioned, with nothing written (it settles it).\r\n"
    L"                    --new starts LEDGER, which must not exist yet; without it a\r\n"
    L"                    missing ledger is an error. --again gives a serial to an\r\n"
    L"                    adapter whose record is byte for byte one provisioned before\r\n"
    L"                    (a twin). The ledger is locked only while it is read and\r\n"
    L"                    written; another station waits for it up to SECONDS (default\r\n"
    L"                    30). Prints old-serial, new-serial and ledger-line, and\r\n"
    L"                    settles-line when it settled an earlier run (with --json:\r\n"
    L"                    result, old_serial, new_serial, ledger_line, settles_line);\r\n"
    L"                    on a console, a last PASSED or FAILED line.\r\n"
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
    L"     argument, an option given twice, a malformed or backwards pool\r\n"
    L"  3  the adapter could not be opened\r\n"
    L"  4  the adapter's record could not be read\r\n"
    L"  5  suffix refused: not exactly two bytes in code page 936, a character with\r\n"
    L"     no code page 936 form, or a control character\r\n"
    L"  6  the write failed\r\n"
    L"  7  the write was reported done, but the record read back differs from the\r\n"
    L"     one sent, or could not be read back\r\n"
    L"  8  provision: this adapter was provisioned before: its whole record is one\r\n"
    L"     the ledger wrote (a twin needs --again)\r\n"
    L"  9  provision: the ledger is busy (its lock was not had in time)\r\n"
    L"  10 provision: no free suffix in the pool, or the suffix asked for is taken\r\n"
    L"  11 provision: the ledger cannot be read or written, or is not a ledger\r\n"
    L"  12 Qelvo_CAN.dll could not be loaded from this program's folder\r\n"
    L"  13 the output, or provision's closing ledger line, could not be written;\r\n"
    L"     the message says what was done before\r\n"
    L"  14 ended abnormally (out of memory, an abort or a crash); the adapter may have\r\n"
    L"     been written (provision: run it again, which settles it)\r\n"
    L"Nothing is written to the adapter on any code but 0, 6, 7, 13 and 14.\r\n";

// Out of memory ends in abort(), whose own exit code (3) would claim that the
// adapter was never opened; this one claims nothing. No allocation here.
}  // namespace

extern "C" void AbnormalEnd(int)
{
    static const char kLine[] =
        "varnock-cli: ended abnormally (an abort: out of memory, or in the device library); the adapter may or may "
        "not have been written, so read it again (or, when it was being provisioned, run provision again: it settles "
        "it)\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kLine, sizeof kLine - 1, &written, nullptr);
    _exit(kAbnormalEnd);
}

namespace {

// A crash, in the device library say, would end with a code of its own that
// scripts cannot tell from ours; it too says only what is known.
LONG WINAPI Crashed(EXCEPTION_POINTERS*)
{
    static const char kLine[] =
        "varnock-cli: ended abnormally (a crash); the adapter may or may not have been written, so read it again (or, "
        "when it was being provisioned, run provision again: it settles it)\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kLine, sizeof kLine - 1, &written, nullptr);
    TerminateProcess(GetCurrentProcess(), kAbnormalEnd);
    return EXCEPTION_EXECUTE_HANDLER;
}

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

bool TakesValue(const wchar_t* option)
{
    return SameText(option, L"--pool") || SameText(option, L"--suffix") || SameText(option, L"--wait");
}

// Whether argument `index` is provision's ledger, the one argument that may
// be as long as a path.
bool IsLedgerPath(int argc, wchar_t** argv, int index)
{
    if (argc < 3 || !SameText(argv[1], L"provision"))
        return false;
    for (int i = 2; i < argc; ++i) {
        if (TakesValue(argv[i]))
            ++i;
        else if (argv[i][0] != L'-')
            return i == index;
    }
    return false;
}

bool ParseSeconds(const wchar_t* text, unsigned& seconds)
{
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

int ParseProvision(int argc, wchar_t** argv)
{
    ProvisionOptions options;
    bool json = false, pool = false, wait = false;
    for (int i = 2; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (SameText(argument, L"--json")) {
            if (json)
                return UsageError(Words(L"provision takes --json once"));
            json = options.json = true;
        } else if (SameText(argument, L"--new")) {
            if (options.create)
                return UsageError(Words(L"provision takes --new once"));
            options.create = true;
        } else if (SameText(argument, L"--again")) {
            if (options.again)
                return UsageError(Words(L"provision takes --again once"));
            options.again = true;
        } else if (TakesValue(argument)) {
            if (i + 1 >= argc)
                return UsageError(Words(argument, L" needs a value, as in: varnock-cli provision adapters.csv ",
                                        SameText(argument, L"--pool")     ? L"--pool 01-99"
                                        : SameText(argument, L"--suffix") ? L"--suffix AB"
                                                                          : L"--wait 60"));
            const wchar_t* value = argv[++i];
            if (SameText(argument, L"--pool")) {
                if (pool)
                    return UsageError(Words(L"provision takes --pool once"));
                pool = true;
                options.pool = value;
            } else if (SameText(argument, L"--suffix")) {
                if (options.suffix != nullptr)
                    return UsageError(Words(L"provision takes --suffix once"));
                options.suffix = value;  // taken as typed, also when it begins with -
            } else {
                if (wait)
                    return UsageError(Words(L"provision takes --wait once"));
                wait = true;
                if (!ParseSeconds(value, options.waitSeconds))
                    return UsageError(Words(L"--wait takes a number of seconds from 0 to 600, not ", Quoted(value)));
            }
        } else if (argument[0] == L'-') {
            return UsageError(Words(L"provision does not take the option ", Quoted(argument),
                                    L"; it takes --pool, --suffix, --new, --again, --json and --wait (a ledger whose name "
                                    L"begins with "
                                    L"- is .\\", argument, L")"));
        } else if (options.ledger != nullptr) {
            return UsageError(Words(L"provision takes one ledger, but got ", Quoted(options.ledger), L" and ",
                                    Quoted(argument)));
        } else {
            options.ledger = argument;
        }
    }
    if (options.ledger == nullptr)
        return UsageError(Words(L"provision needs the ledger file, as in: varnock-cli provision "
                                L"\\\\server\\line3\\adapters.csv"));
    if (pool && options.suffix != nullptr)
        return UsageError(Words(L"provision takes --pool or --suffix, not both"));

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

int ParseWriteSuffix(int argc, wchar_t** argv)
{
    if (argc < 3)
        return UsageError(Words(L"write-suffix needs the suffix, as in: varnock-cli write-suffix AB"));
    // The suffix is the first argument whatever it looks like, so -1 is one.
    bool json = false;
    for (int i = 3; i < argc; ++i) {
        if (SameText(argv[i], L"--json") && json)
            return UsageError(Words(L"write-suffix takes --json once"));
        else if (SameText(argv[i], L"--json"))
            json = true;
        else
            return UsageError(Words(L"write-suffix takes one suffix and --json, but got ",
                                    Decimal(static_cast<size_t>(argc - 2)),
                                    L" arguments; quote a suffix with a space in it"));
    }
    return WriteSuffix(argv[2], json);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // A batch must never stop at a system dialog: not for a missing library,
    // a missing disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::signal(SIGABRT, AbnormalEnd);
    SetUnhandledExceptionFilter(Crashed);

    // Every argument is looked at before any is acted on.
    for (int i = 1; i < argc; ++i) {
        const size_t length = std::wcslen(argv[i]);
        const size_t longest = IsLedgerPath(argc, argv, i) ? kLongestPath : kLongestArgument;
        if (length == 0)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is empty"));
        if (length > longest)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is ", Decimal(length),
                                    L" characters long; none may be longer than ", Decimal(longest)));
    }
    if (argc < 2)
        return UsageError(Words(L"no command given; the commands are read, write-suffix and provision"));

    const wchar_t* command = argv[1];
    if (SameText(command, L"--help") || SameText(command, L"-h") || SameText(command, L"/?")) {
        if (argc > 2)
            return UsageError(Words(L"--help takes no argument, but got ", Quoted(argv[2])));
        return Finish(CWideString(kHelp, sizeof kHelp / sizeof kHelp[0] - 1), Words(L"nothing was done"));
    }
    if (SameText(command, L"--version")) {
        if (argc > 2)
            return UsageError(Words(L"--version takes no argument, but got ", Quoted(argv[2])));
        return Finish(Words(L"varnock-cli ", VARNOCK_CLI_VERSION, L"\r\n"), Words(L"nothing was done"));
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
    if (SameText(command, L"write-suffix"))
        return ParseWriteSuffix(argc, argv);
    if (SameText(command, L"provision"))
        return ParseProvision(argc, argv);
    if (command[0] == L'-' || command[0] == L'/')
        return UsageError(Words(L"unknown option ", Quoted(command)));
    return UsageError(
        Words(L"unknown command ", Quoted(command), L"; the commands are read, write-suffix and provision"));
}
