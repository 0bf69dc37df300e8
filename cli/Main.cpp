// varnock-cli: the read and write actions of Varnock.exe for scripts, and
// provisioning a line of adapters against a shared ledger. The same actions,
// the same rules and the same library calls; the window's texts go to stdout
// and its messages to stderr, after an English line, and the outcome becomes
// the exit code. This file starts the program and runs a command; the
// command line is read in Options.cpp, the commands are in Commands.cpp and
// Provision.cpp. Tests: tests/e2e/CliTest.cpp runs it as a script does.
#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "ledger/SuffixPool.h"

// Out of memory ends in abort(), whose own exit code (3) would claim that the
// adapter was never opened; this one claims nothing. No allocation here.
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

constexpr unsigned kLongestWait = 600;

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

// provision's values, which the table cannot check by their form alone.
int RunProvision(const Arguments& arguments)
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
    const wchar_t* wait = arguments.Value(L"--wait");
    if (wait != nullptr && !ParseSeconds(wait, options.waitSeconds))
        return UsageError(Words(L"--wait takes a number of seconds from 0 to 600, not ", Quoted(wait)));

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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // A batch must never stop at a system dialog: not for a missing library,
    // a missing disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::signal(SIGABRT, AbnormalEnd);
    SetUnhandledExceptionFilter(Crashed);

    Command command = Command::Read;
    Arguments arguments;
    const int done = ParseCommandLine(argc, argv, command, arguments);
    if (done >= 0)
        return done;
    switch (command) {
    case Command::Read:
        return Read(arguments.Has(L"--json"));
    case Command::WriteSuffix:
        return WriteSuffix(arguments.operand, arguments.Has(L"--json"));
    case Command::Provision:
        break;
    }
    return RunProvision(arguments);
}
