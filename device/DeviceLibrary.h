// The contract with the device library: three operations, each taking the
// device address and one more 32-bit value (or the record's address) and
// returning 1 for success. The actions reach the library only through a
// DeviceLibrary, so the real binding, the virtual adapter and test fakes are
// interchangeable.
#pragma once

#include <cstdint>

#include "device/DeviceInfo.h"

#ifdef _WIN32
#define DEVICE_LIBRARY_CALL __stdcall  // WINAPI, without pulling in windows.h
#else
#define DEVICE_LIBRARY_CALL
#endif

using DeviceResult = uint32_t;

constexpr uint32_t DEVICE_TYPE_ADAPTER = 2;
constexpr uint32_t DEVICE_INDEX_FIRST = 0;
constexpr DeviceResult DEVICE_RESULT_OK = 1;  // every other value is a failure

using DeviceOpenFn = DeviceResult(DEVICE_LIBRARY_CALL*)(uint32_t deviceType, uint32_t deviceIndex,
                                                        uint32_t reserved);
// The library writes the record.
using DeviceInfoReadFn = DeviceResult(DEVICE_LIBRARY_CALL*)(uint32_t deviceType, uint32_t deviceIndex,
                                                            DeviceInfo* info);
// The library reads the record.
using DeviceInfoWriteFn = DeviceResult(DEVICE_LIBRARY_CALL*)(uint32_t deviceType, uint32_t deviceIndex,
                                                             DeviceInfo* info);

struct DeviceLibrary {
    DeviceOpenFn DeviceOpen;
    DeviceInfoReadFn DeviceInfoRead;
    DeviceInfoWriteFn DeviceInfoWrite;
};

// The library linked into this program: Qelvo_CAN.dll on Windows (by export
// number), the virtual adapter's shared library on the native build.
const DeviceLibrary& LinkedDeviceLibrary();
