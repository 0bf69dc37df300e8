/* The floor varnock-cli.exe's write-suffix is measured against: the least
 * program that makes the same five library calls (open, read, write, open,
 * read), through the same import library, and checks the read-back.
 *
 *   VarnockLeastCli.exe XY   exit code 0 when the record read back is the one sent */
#include <stdint.h>
#include <string.h>

/* The library's three exports as this program binds them: by number, through
 * the import library. */
uint32_t __stdcall DeviceOpen(uint32_t deviceType, uint32_t deviceIndex, uint32_t reserved);
uint32_t __stdcall DeviceInfoRead(uint32_t deviceType, uint32_t deviceIndex, uint8_t* record);
uint32_t __stdcall DeviceInfoWrite(uint32_t deviceType, uint32_t deviceIndex, uint8_t* record);

int wmain(int argc, wchar_t** argv)
{
    uint8_t sent[52], got[52];
    if (argc != 2 || !argv[1][0] || !argv[1][1]) return 2;
    if (DeviceOpen(2, 0, 0) != 1 || DeviceInfoRead(2, 0, sent) != 1) return 1;
    sent[17] = (uint8_t)argv[1][0]; /* the serial number's last two bytes */
    sent[18] = (uint8_t)argv[1][1];
    if (DeviceInfoWrite(2, 0, sent) != 1) return 1;
    if (DeviceOpen(2, 0, 0) != 1 || DeviceInfoRead(2, 0, got) != 1) return 1;
    return memcmp(sent, got, sizeof sent) != 0;
}
