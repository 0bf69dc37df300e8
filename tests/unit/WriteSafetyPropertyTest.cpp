// Many random sessions through the write-safety check.
#include <gtest/gtest.h>

#include <random>

#include "ScriptedSession.h"

#if defined(__SANITIZE_ADDRESS__)
// The sessions allocate some eight million short texts. Kept in the default
// quarantine (256 MB), nearly every one would land on a fresh page, and
// recording 30 frames for each is most of the rest; the sessions then take
// twice as long. ASAN_OPTIONS still wins.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:malloc_context_size=10"; }
#endif

TEST(WriteSafety, EveryRecordSentIsTheLastGoodReadPlusSuffix)
{
#ifdef _WIN32
    const int kSessions = 500;  // under Wine every allocation costs more
#else
    const int kSessions = 10000;
#endif
    std::mt19937 rng(20261208);
    auto next = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    size_t writes = 0;
    for (int run = 0; run < kSessions; ++run)
        ASSERT_EQ(RunScriptedSession(next, 40, &writes), "") << "run " << run;
    // About a tenth of the steps: a write step, after a good read, with two bytes.
    EXPECT_GT(writes, size_t(kSessions) * 40 / 20);
    RecordProperty("sessions", kSessions);
    RecordProperty("writes", static_cast<int>(writes));
}
