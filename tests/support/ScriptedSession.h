// A session of reads, failed reads (some scribbling garbage), writes and
// suffixes, driven by a source of choices (a seeded generator in the property
// test, the fuzzer's data in the fuzz target). It checks the write-safety
// promise after every step: each record sent equals the last record a read
// delivered, except bytes 17 and 18, which hold the last accepted suffix.
#pragma once

#include <cstring>
#include <functional>
#include <string>

#include "FakeDevice.h"

// `next(n)` returns a choice in [0, n). Returns an empty string when the
// promise held, else what went wrong. A write of two bytes after a good read
// must go out, so a session that sends nothing cannot pass for a safe one;
// `writes` counts those sent.
inline std::string RunScriptedSession(const std::function<uint32_t(uint32_t)>& next, int steps,
                                      size_t* writes = nullptr)
{
    FakeDevice::Reset();
    FakeDevice& device = FakeDevice::Get();
    FakeHost host;
    auto randomRecord = [&] {
        DeviceInfo info;
        auto* bytes = reinterpret_cast<uint8_t*>(&info);
        for (size_t i = 0; i < sizeof info; ++i) bytes[i] = static_cast<uint8_t>(next(256));
        return info;
    };
    auto failure = [&]() -> DeviceResult {
        static const DeviceResult kFailures[] = {0, 2, 0xFFFFFFFFu, 0x7FFFFFFFu};
        return kFailures[next(4)];
    };

    host.deviceInfo = randomRecord();  // whatever the record held before: never to be sent
    bool haveGood = false;
    DeviceInfo lastGood{};
    std::string acceptedSuffix;
    size_t callsSeen = 0;
    size_t expectedWrites = 0;  // in this step

    for (int step = 0; step < steps; ++step) {
        switch (next(4)) {
        case 0:  // a good read of a new record
            device.adapterRecord = randomRecord();
            device.openResult = device.readResult = 1;
            host.Open();
            lastGood = device.adapterRecord;
            haveGood = true;
            acceptedSuffix.clear();
            break;
        case 1:  // a failed open or read, maybe scribbling over the buffer
            device.adapterRecord = randomRecord();
            (next(2) ? device.openResult : device.readResult) = failure();
            device.scribbleOnFailedRead = next(2);
            device.scribble = static_cast<uint8_t>(next(256));
            host.Open();
            device.openResult = device.readResult = 1;
            break;
        default: {  // a write with any suffix bytes (no zero byte: a text has none)
            std::string suffix(next(5), '\0');
            for (char& c : suffix) c = static_cast<char>(1 + next(255));
            host.window.serialSuffix = CString(suffix.data(), suffix.size());
            device.writeResult = next(2) ? 1 : failure();
            host.Write();
            if (haveGood && suffix.size() == 2) {
                acceptedSuffix = suffix;
                expectedWrites = 1;
            }
            break;
        }
        }
        // The calls this step made, without copying the ones before.
        size_t stepWrites = 0;
        for (; callsSeen < device.calls.size(); ++callsSeen) {
            const LibraryCall& call = device.calls[callsSeen];
            if (call.op != LibraryCall::Write) continue;
            ++stepWrites;
            if (writes) ++*writes;
            if (!haveGood) return "a write went out before any good read";
            if (acceptedSuffix.size() != 2) return "a write went out without an accepted suffix";
            DeviceInfo expected = lastGood;
            expected.serialNumber[6] = static_cast<uint8_t>(acceptedSuffix[0]);
            expected.serialNumber[7] = static_cast<uint8_t>(acceptedSuffix[1]);
            if (std::memcmp(&call.record, &expected, sizeof expected) != 0)
                return "step " + std::to_string(step) + ": the record sent differs from the last good read";
        }
        if (stepWrites != expectedWrites)
            return "step " + std::to_string(step) + ": " + std::to_string(stepWrites) + " writes, expected " +
                   std::to_string(expectedWrites);
        expectedWrites = 0;
        host.messages.clear();  // only the records matter here
    }
    return {};
}
