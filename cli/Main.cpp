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

#include "cli/ExitCodes.h"
#include "cli/Options.h"
#include "cli/Report.h"

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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // A batch must never stop at a system dialog: not for a missing library,
    // a missing disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::signal(SIGABRT, AbnormalEnd);
    SetUnhandledExceptionFilter(Crashed);

    Arguments arguments;
    const int done = ParseCommandLine(argc, argv, arguments);
    return done >= 0 ? done : arguments.run(arguments);
}
