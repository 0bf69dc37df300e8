// The stack protector's guard (StackGuard.c), for the test that checks it.
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif
extern void* __stack_chk_guard;
#ifdef __cplusplus
}
#endif

// The guard's value until it is seeded: still not zero, like the compiler
// runtime's own fallback.
#define VARNOCK_UNSEEDED_STACK_GUARD ((void*)(UINT_PTR)0xff0a0d00u)
