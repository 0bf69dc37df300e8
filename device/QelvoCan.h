// The three exports of Qelvo_CAN.dll as this program binds them. The import
// library maps them to export numbers 1, 6 and 5; the virtual adapter defines
// them with this same declaration.
#pragma once

#include "device/DeviceLibrary.h"

extern "C" {
DeviceResult DEVICE_LIBRARY_CALL DeviceOpen(uint32_t deviceType, uint32_t deviceIndex, uint32_t reserved);
DeviceResult DEVICE_LIBRARY_CALL DeviceInfoRead(uint32_t deviceType, uint32_t deviceIndex, DeviceInfo* info);
DeviceResult DEVICE_LIBRARY_CALL DeviceInfoWrite(uint32_t deviceType, uint32_t deviceIndex, DeviceInfo* info);
}
