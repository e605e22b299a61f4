#include "platform/AdapterAddress.h"

#include "platform/EnvSetting.h"
#include "platform/UnitBoard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if KESTRUN_DEVICE
#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool readAdapter(uint8_t address[6])
{
    int sock = ::socket(AF_BLUETOOTH, SOCK_RAW, BTPROTO_HCI);
    if (sock < 0) {
        std::perror("Failed to open Bluetooth socket");
        return false;
    }
    hci_dev_info info;
    std::memset(&info, 0, sizeof info);
    info.dev_id = 0;
    if (::ioctl(sock, HCIGETDEVINFO, &info) < 0) {
        std::perror("HCIGETDEVINFO failed");
        ::close(sock);
        return false;
    }
    ::close(sock);
    // HCI keeps the address least significant byte first.
    for (int i = 0; i < 6; ++i) address[i] = info.bdaddr.b[5 - i];
    return true;
}

} // namespace
#endif

bool AdapterAddress::read(uint8_t address[6])
{
    std::memset(address, 0, 6);
#if KESTRUN_DEVICE
    if (UnitBoard::detected()) return readAdapter(address);
#endif
    const char* text = EnvSetting::text("KESTRUN_BT_ADDR");
    if (!text) return false;
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6) {
        EnvSetting::refuse("AdapterAddress", "KESTRUN_BT_ADDR", text, "is not an address like AA:BB:CC:DD:EE:FF",
                           "the address is all zero");
        return false;
    }
    for (int i = 0; i < 6; ++i) address[i] = uint8_t(v[i]);
    return true;
}
