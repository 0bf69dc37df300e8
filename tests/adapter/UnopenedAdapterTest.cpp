// Before any successful open in a process, read and write fail. The open
// state cannot be undone, so this program holds this one case alone, and
// with it the first successful write, which VADAPTER_FAIL_READ_AFTER_WRITE
// waits for.
#include "AdapterTestSupport.h"

using namespace adaptertest;

namespace {

TEST(UnopenedAdapter, ReadAndWriteFailUntilAnOpenSucceeds)
{
    ClearAdapterVariables();
    const ScratchFolder scratch;
    const fs::path image = scratch.Path() / "image.bin";
    SetEnv("VADAPTER_IMAGE", image);

    auto expectClosed = [&](const char* after) {
        SCOPED_TRACE(after);
        DeviceInfo info = RecordB();
        EXPECT_NE(Read(info), 1u);
        EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
        EXPECT_NE(Write(RecordA()), 1u);
        EXPECT_FALSE(fs::exists(image));
    };
    expectClosed("no open yet");
    EXPECT_NE(DeviceOpen(3, 0, 0), 1u);
    expectClosed("an open of another type");
    EXPECT_NE(DeviceOpen(2, 1, 0), 1u);
    expectClosed("an open of another index");
    SetEnv("VADAPTER_ABSENT", "1");
    EXPECT_NE(Open(), 1u);
    UnsetEnv("VADAPTER_ABSENT");
    expectClosed("an open without the adapter");

    ASSERT_EQ(Open(), 1u);
    // The failed writes so far do not count, nor does one refused now.
    SetEnv("VADAPTER_FAIL_READ_AFTER_WRITE", "1");
    SetEnv("VADAPTER_FAIL_WRITE", "1");
    EXPECT_NE(Write(RecordA()), 1u);
    UnsetEnv("VADAPTER_FAIL_WRITE");
    DeviceInfo info;
    EXPECT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(FactoryRecord()));
    EXPECT_EQ(Write(RecordA()), 1u);
    info = RecordB();
    EXPECT_NE(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
    EXPECT_EQ(FileBytes(image), VectorOf(RecordA()));
    ClearAdapterVariables();
}

}  // namespace
