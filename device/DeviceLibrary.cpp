#include "device/DeviceLibrary.h"

#include "device/QelvoCan.h"

const DeviceLibrary& LinkedDeviceLibrary()
{
    static const DeviceLibrary library = {&DeviceOpen, &DeviceInfoRead, &DeviceInfoWrite};
    return library;
}
