// A scripted device library and a recording host for the action tests.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "actions/DeviceInfoActions.h"

struct LibraryCall {
    enum Op { Open, Read, Write } op;
    uint32_t type, index, third;
    DeviceInfo record;  // for a write: what was sent
};

// The library's functions are plain function pointers, so the fake's state
// is one global, reset by each test.
struct FakeDevice {
    DeviceResult openResult = 1;
    DeviceResult readResult = 1;
    DeviceResult writeResult = 1;
    DeviceInfo adapterRecord{};      // what a read delivers
    bool scribbleOnFailedRead = false;
    uint8_t scribble = 0xA5;
    std::vector<LibraryCall> calls;

    static FakeDevice& Get()
    {
        static FakeDevice device;
        return device;
    }
    static void Reset() { Get() = FakeDevice(); }

    static DeviceResult DEVICE_LIBRARY_CALL Open(uint32_t type, uint32_t index, uint32_t third)
    {
        Get().calls.push_back({LibraryCall::Open, type, index, third, {}});
        return Get().openResult;
    }
    static DeviceResult DEVICE_LIBRARY_CALL Read(uint32_t type, uint32_t index, DeviceInfo* info)
    {
        FakeDevice& d = Get();
        d.calls.push_back({LibraryCall::Read, type, index, 0, {}});
        if (d.readResult == 1)
            *info = d.adapterRecord;
        else if (d.scribbleOnFailedRead)
            std::memset(info, d.scribble, sizeof *info);
        return d.readResult;
    }
    static DeviceResult DEVICE_LIBRARY_CALL Write(uint32_t type, uint32_t index, DeviceInfo* info)
    {
        FakeDevice& d = Get();
        d.calls.push_back({LibraryCall::Write, type, index, 0, *info});
        // A careless library may change the buffer it was given.
        std::memset(info, 0xEE, sizeof *info);
        return d.writeResult;
    }

    std::vector<DeviceInfo> Writes() const
    {
        std::vector<DeviceInfo> out;
        for (const LibraryCall& c : calls)
            if (c.op == LibraryCall::Write) out.push_back(c.record);
        return out;
    }
};

inline const DeviceLibrary kFakeLibrary = {&FakeDevice::Open, &FakeDevice::Read, &FakeDevice::Write};

// Plays the main dialog: a "window" holding seven texts that take and push
// copy, and a list of the messages shown.
class FakeHost : public DeviceInfoHost {
public:
    CString channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix, reservedValue;
    DeviceInfo deviceInfo{};
    bool deviceInfoValid = false;

    struct Window {
        CString channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix,
            reservedValue;
    } window;
    std::vector<std::string> messages;
    int pushes = 0;

    DeviceTexts Texts()
    {
        return {channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix, reservedValue};
    }
    DeviceRecord Record() { return {deviceInfo, deviceInfoValid}; }

    ReadOutcome Open() { return ReadDeviceInfo(kFakeLibrary, *this, Record(), Texts()); }
    WriteOutcome Write() { return WriteSerialSuffix(kFakeLibrary, *this, Record(), Texts()); }

    // A text is copied only where it differs, as the dialog sets a field: the
    // property test runs the actions millions of times, and allocations under
    // the sanitizers are what it waits for.
    void TakeTexts() override
    {
        Copy(window.channelCount, channelCount);
        Copy(window.firmwareVersion, firmwareVersion);
        Copy(window.hardwareVersion, hardwareVersion);
        Copy(window.productName, productName);
        Copy(window.serialNumber, serialNumber);
        Copy(window.serialSuffix, serialSuffix);
        Copy(window.reservedValue, reservedValue);
    }
    void PushTexts() override
    {
        ++pushes;
        Copy(channelCount, window.channelCount);
        Copy(firmwareVersion, window.firmwareVersion);
        Copy(hardwareVersion, window.hardwareVersion);
        Copy(productName, window.productName);
        Copy(serialNumber, window.serialNumber);
        Copy(serialSuffix, window.serialSuffix);
        Copy(reservedValue, window.reservedValue);
    }
    void ShowMessage(const CString& text) override { messages.push_back(text.Bytes()); }

private:
    static void Copy(const CString& from, CString& to)
    {
        if (to != from) to = from;
    }
};

inline DeviceInfo RecordFromBytes(const std::vector<uint8_t>& bytes)
{
    DeviceInfo info{};
    std::memcpy(&info, bytes.data(), bytes.size() < sizeof info ? bytes.size() : sizeof info);
    return info;
}

inline std::string RecordBytes(const DeviceInfo& info)
{
    return std::string(reinterpret_cast<const char*>(&info), sizeof info);
}
