// The read and write actions against a scripted library and host.
#include <gtest/gtest.h>

#include "FakeDevice.h"
#include "actions/Messages.h"

namespace {

class Actions : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDevice::Reset();
        device().adapterRecord = RecordFromBytes({0x00, 0x02, 0x13, 0x02, 1, 2, 3, 4, 0x02, 0x01, 2,
                                                  'V', 'N', '2', '4', '0', '0', '1', '7', 'N', 'a', 'm', 'e'});
        for (size_t i = 35; i < 52; ++i) reinterpret_cast<uint8_t*>(&device().adapterRecord)[i] = uint8_t(i);
    }
    static FakeDevice& device() { return FakeDevice::Get(); }
    FakeHost host;
};

TEST_F(Actions, ReadFillsAllSevenTextsAndPushesThem)
{
    host.window.serialSuffix = "99";
    EXPECT_EQ(host.Open(), ReadOutcome::Read);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.pushes, 1);
    EXPECT_EQ(host.window.channelCount.Bytes(), "2");
    EXPECT_EQ(host.window.hardwareVersion.Bytes(), "V2.0\n");
    EXPECT_EQ(host.window.firmwareVersion.Bytes(), "0213\n");
    EXPECT_EQ(host.window.reservedValue.Bytes(), "0x12\n");
    EXPECT_EQ(host.window.productName.Bytes(), "Name");
    EXPECT_EQ(host.window.serialNumber.Bytes(), "VN2400");
    EXPECT_EQ(host.window.serialSuffix.Bytes(), "17");  // typed text replaced by the adapter's
    ASSERT_EQ(device().calls.size(), 2u);
    EXPECT_EQ(device().calls[0].op, LibraryCall::Open);
    EXPECT_EQ(device().calls[1].op, LibraryCall::Read);
    for (const LibraryCall& c : device().calls) {
        EXPECT_EQ(c.type, DEVICE_TYPE_ADAPTER);
        EXPECT_EQ(c.index, DEVICE_INDEX_FIRST);
        EXPECT_EQ(c.third, 0u);
    }
}

// Results other than exactly 1 are failures, whatever their value.
const DeviceResult kFailures[] = {0, 2, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000001u};

TEST_F(Actions, FailedOpenOrReadKeepsWindowAndTypedSuffix)
{
    struct Case {
        bool openFails;
        const char* message;
        ReadOutcome outcome;
    };
    for (Case c : {Case{true, Messages::kOpenFailed, ReadOutcome::OpenFailed},
                   Case{false, Messages::kReadFailed, ReadOutcome::ReadFailed}}) {
        for (DeviceResult failure : kFailures) {
            FakeDevice::Reset();
            FakeHost h;
            (c.openFails ? device().openResult : device().readResult) = failure;
            device().scribbleOnFailedRead = true;
            h.window.serialSuffix = "AB";
            h.window.productName = "old";
            EXPECT_EQ(h.Open(), c.outcome) << failure;
            ASSERT_EQ(h.messages.size(), 1u) << failure;
            EXPECT_EQ(h.messages[0], c.message) << failure;
            EXPECT_EQ(h.pushes, 0);
            EXPECT_EQ(h.window.serialSuffix.Bytes(), "AB");
            EXPECT_EQ(h.window.productName.Bytes(), "old");
            EXPECT_FALSE(h.deviceInfoValid);
            EXPECT_EQ(device().calls.size(), c.openFails ? 1u : 2u);  // no read after a failed open
        }
    }
}

TEST_F(Actions, FailedReadLeavesLastGoodRecord)
{
    host.Open();
    const DeviceInfo good = host.deviceInfo;
    device().readResult = 0;
    device().scribbleOnFailedRead = true;
    host.Open();
    EXPECT_EQ(RecordBytes(host.deviceInfo), RecordBytes(good));
    EXPECT_TRUE(host.deviceInfoValid);
}

// Every text comes from the new record, also one that the new record leaves
// empty (no reserved value, no product name).
TEST_F(Actions, SecondReadRebuildsFromNewRecord)
{
    host.Open();
    ASSERT_EQ(host.window.reservedValue.Bytes(), "0x12\n");
    DeviceInfo& next = device().adapterRecord;
    next = RecordFromBytes({0x10, 0x03, 0x05, 0x00, 9, 9, 9, 9, 0xFF, 0xFF, 8, 'Z', 'Z', '9', '9', '9', '9', 'Q', 'Q'});
    host.window.serialSuffix = "12";
    host.Open();
    EXPECT_EQ(host.window.hardwareVersion.Bytes(), "V3.10\n");
    EXPECT_EQ(host.window.firmwareVersion.Bytes(), "0005\n");
    EXPECT_EQ(host.window.reservedValue.Bytes(), "");
    EXPECT_EQ(host.window.channelCount.Bytes(), "8");
    EXPECT_EQ(host.window.serialNumber.Bytes(), "ZZ9999");
    EXPECT_EQ(host.window.serialSuffix.Bytes(), "QQ");
    EXPECT_EQ(host.window.productName.Bytes(), "");
}

TEST_F(Actions, WriteChecksSuffixLengthInBytes)
{
    struct Case {
        const char* suffix;
        const char* message;
    } cases[] = {
        {"", Messages::kNeedTwoPlaces},
        {"1", Messages::kNeedTwoPlaces},
        {"123", Messages::kNeedTwoPlaces},
        {"\xD6\xD0\x41", Messages::kNeedTwoPlaces},  // a Chinese character and a letter
        {"12", Messages::kWriteSucceeded},
        {"ab", Messages::kWriteSucceeded},
        {"  ", Messages::kWriteSucceeded},
        {"#!", Messages::kWriteSucceeded},
        {"\xD6\xD0", Messages::kWriteSucceeded},  // one double-byte character: lead to 17, trail to 18
    };
    for (const Case& c : cases) {
        SetUp();
        FakeHost h;
        h.Open();
        device().calls.clear();
        h.window.serialSuffix = c.suffix;
        const WriteOutcome outcome = h.Write();
        ASSERT_EQ(h.messages.size(), 1u) << c.suffix;
        EXPECT_EQ(h.messages[0], c.message) << c.suffix;
        EXPECT_EQ(h.pushes, 1) << "a write pushes nothing";
        const std::vector<DeviceInfo> writes = device().Writes();
        EXPECT_EQ(SuffixAccepted(c.suffix), c.message == Messages::kWriteSucceeded) << c.suffix;
        EXPECT_EQ(outcome, c.message == Messages::kWriteSucceeded ? WriteOutcome::Written : WriteOutcome::SuffixRefused)
            << c.suffix;
        if (c.message == Messages::kNeedTwoPlaces) {
            EXPECT_TRUE(writes.empty()) << c.suffix;
            EXPECT_EQ(RecordBytes(h.deviceInfo), RecordBytes(device().adapterRecord)) << "record unchanged";
            continue;
        }
        ASSERT_EQ(writes.size(), 1u);
        std::string expected = RecordBytes(device().adapterRecord);
        expected[17] = c.suffix[0];
        expected[18] = c.suffix[1];
        EXPECT_EQ(RecordBytes(writes[0]), expected) << c.suffix;
    }
}

TEST_F(Actions, WriteBeforeAnyGoodReadSendsNothing)
{
    host.window.serialSuffix = "12";
    EXPECT_EQ(host.Write(), WriteOutcome::NotRead);
    device().readResult = 0;
    device().scribbleOnFailedRead = true;
    host.Open();
    EXPECT_EQ(host.Write(), WriteOutcome::NotRead);
    EXPECT_TRUE(device().Writes().empty());
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[0], Messages::kOpenFirst);
    EXPECT_EQ(host.messages[1], Messages::kReadFailed);
    EXPECT_EQ(host.messages[2], Messages::kOpenFirst);
}

TEST_F(Actions, WriteResultDecidesTheMessageAndPatchStays)
{
    for (DeviceResult failure : kFailures) {
        SetUp();
        FakeHost h;
        h.Open();
        device().writeResult = failure;
        h.window.serialSuffix = "42";
        EXPECT_EQ(h.Write(), WriteOutcome::WriteFailed) << failure;
        ASSERT_EQ(h.messages.size(), 1u);
        EXPECT_EQ(h.messages[0], Messages::kWriteFailed) << failure;
        EXPECT_EQ(h.deviceInfo.serialNumber[6], '4');
        EXPECT_EQ(h.deviceInfo.serialNumber[7], '2');
        EXPECT_EQ(h.window.serialSuffix.Bytes(), "42");
    }
}

TEST_F(Actions, WritingTwiceSendsTheSameRecordTwice)
{
    host.Open();
    device().calls.clear();
    host.window.serialSuffix = "55";
    host.Write();
    host.Write();  // the fake scribbles over what it was handed; the next write must not care
    const std::vector<DeviceInfo> writes = device().Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(RecordBytes(writes[0]), RecordBytes(writes[1]));
    for (const LibraryCall& c : device().calls) {
        EXPECT_EQ(c.type, DEVICE_TYPE_ADAPTER);
        EXPECT_EQ(c.index, DEVICE_INDEX_FIRST);
        EXPECT_NE(c.op, LibraryCall::Open) << "a write opens nothing";
    }
}

TEST(MessagesText, AreTheCodePage936Bytes)
{
    // Lengths in bytes: six or seven double-byte characters and a closing mark.
    EXPECT_EQ(std::string(Messages::kOpenFailed).size(), 14u);
    EXPECT_EQ(std::string(Messages::kOpenFailed).substr(12), "\xA3\xA1");  // full-width ！
    for (const char* m : {Messages::kReadFailed, Messages::kNeedTwoPlaces, Messages::kWriteFailed,
                          Messages::kWriteSucceeded, Messages::kOpenFirst})
        EXPECT_EQ(std::string(m).back(), '!') << m;
}

}  // namespace
