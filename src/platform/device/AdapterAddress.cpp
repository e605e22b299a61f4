#include "platform/AdapterAddress.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool AdapterAddress::read(uint8_t address[6])
{
    std::memset(address, 0, 6);
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
