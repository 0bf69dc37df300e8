// Many random sessions through the write-safety check.
#include <gtest/gtest.h>

#include <random>

#include "ScriptedSession.h"

TEST(WriteSafety, EveryRecordSentIsTheLastGoodReadPlusSuffix)
{
    std::mt19937 rng(20261208);
    auto next = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    for (int run = 0; run < 500; ++run) ASSERT_EQ(RunScriptedSession(next, 40), "") << "run " << run;
}
