// The stack protector's guard value, and its end when a guard is found
// overwritten. GCC's own runtime seeds the guard through a cryptographic
// service provider: under Wine that costs about 40 ms and 400 KiB at every
// start. RtlGenRandom gives the same randomness without loading a provider.
#include "StackGuard.h"

// RtlGenRandom: advapi32's export SystemFunction036, Windows XP and later.
BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

void* __stack_chk_guard = VARNOCK_UNSEEDED_STACK_GUARD;

// A constructor, as in the runtime: it runs before main, WinMain or wmain.
__attribute__((constructor)) static void SeedStackGuard(void)
{
    void* guard = NULL;
    if (SystemFunction036(&guard, sizeof guard) && guard != NULL)
        __stack_chk_guard = guard;
}

// The stack is not to be trusted any more: no message, no unwinding, no
// handlers; the process ends with the code Windows gives an overrun.
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    TerminateProcess(GetCurrentProcess(), (UINT)STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}
