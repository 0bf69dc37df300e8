// The stack protector's guard value, and its end when a guard is found
// overwritten. GCC's own runtime seeds the guard through a cryptographic
// service provider: under Wine that costs about 40 ms and 400 KiB at every
// start. RtlGenRandom gives the same randomness without loading a provider.
#include "StackGuard.h"

// RtlGenRandom: advapi32's export SystemFunction036, Windows XP and later.
BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

void* __stack_chk_guard = VARNOCK_UNSEEDED_STACK_GUARD;

// Neither function may check a guard itself: the seed changes the guard under
// its own frame, and the end runs once a guard is broken. Built with a
// packager's -fstack-protector-strong, every program would end before main.

// A constructor, as in the runtime: it runs before main, WinMain or wmain.
// Should RtlGenRandom fail, what the process has still beats the public
// constant.
__attribute__((constructor, no_stack_protector)) static void SeedStackGuard(void)
{
    UINT_PTR guard = 0;
    if (!SystemFunction036(&guard, sizeof guard) || guard == 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        guard = (UINT_PTR)now.QuadPart ^ (UINT_PTR)&now ^ ((UINT_PTR)GetCurrentProcessId() << 16) ^
                GetCurrentThreadId() ^ ((UINT_PTR)GetTickCount() << 8) ^ (UINT_PTR)VARNOCK_UNSEEDED_STACK_GUARD;
    }
    if (guard != 0)
        __stack_chk_guard = (void*)guard;
}

// The stack is not to be trusted any more: no message, no unwinding, no
// handlers; the process ends with the code Windows gives an overrun. Should
// that return, Windows 8's fail-fast (int 0x29, the code in ecx; mingw has no
// __fastfail), and a trap where there is none: never the next function.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void)
{
    TerminateProcess(GetCurrentProcess(), (UINT)STATUS_STACK_BUFFER_OVERRUN);
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    __builtin_trap();
}
