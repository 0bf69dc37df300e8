// The guard is seeded before main runs, and an overrun ends the process the
// way Windows ends one, before the overrun function returns. Built with the
// programs' options; run under Wine.
#include "hardening/StackGuard.h"

#include <stdio.h>
#include <string.h>

__attribute__((noinline)) static void Overrun(const char* text)
{
    char buffer[8];
    strcpy(buffer, text);
    puts(buffer);
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "overrun") == 0) {
        Overrun(argv[2]);
        return 0;
    }
    if (__stack_chk_guard == nullptr || __stack_chk_guard == VARNOCK_UNSEEDED_STACK_GUARD) {
        printf("stack guard: not seeded (%p)\n", __stack_chk_guard);
        return 1;
    }

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char command[MAX_PATH + 80];
    snprintf(command, sizeof command, "\"%s\" overrun 0123456789abcdef0123456789abcdef0123456789", self);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(self, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        printf("stack guard: cannot start %s (%lu)\n", self, GetLastError());
        return 1;
    }
    if (WaitForSingleObject(child.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(child.hProcess, 1);  // a crash left to a debugger
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    if (code != static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN)) {
        printf("stack guard: the overrun ended with 0x%08lx, not 0xc0000409\n", code);
        return 1;
    }
    printf("stack guard: seeded; an overrun ends with 0xc0000409\n");
    return 0;
}
