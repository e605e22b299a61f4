#include "porting/Mac.h"

#include "platform/AdapterAddress.h"
#include "porting/Log.h"

#include <cstdio>

void esp_read_mac(uint8_t mac[6], int type)
{
    if (!AdapterAddress::read(mac)) return;
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    mac[5] = uint8_t(mac[5] + type);
    LOG_I("MAC Read", "Bluetooth MAC of hci0: %s\n", text);
}

void esp_efuse_mac_get_default(uint8_t mac[6])
{
    esp_read_mac(mac, 0);
}
