// Any byte string as a script of reads, failed reads, writes, suffixes and
// library results, checked with the write-safety promise.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "ScriptedSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    auto next = [&](uint32_t n) { return input.ConsumeIntegralInRange<uint32_t>(0, n - 1); };
    const std::string failure = RunScriptedSession(next, 64);
    if (!failure.empty()) {
        std::fprintf(stderr, "write safety broken: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
