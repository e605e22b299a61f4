#include "porting/Clock.h"
#include "porting/Mac.h"
#include "porting/Random.h"
#include "support/TempRoot.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

TEST(Clock, WallClockInMicrosecondsAndMonotonicInNanoseconds)
{
    uint64_t wall = esp_timer_get_time();
    EXPECT_NEAR(double(wall / 1000000), double(std::time(nullptr)), 2.0);
    uint64_t t0 = xthal_get_ccount();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    uint64_t t1 = xthal_get_ccount();
    EXPECT_GE(t1 - t0, 5000000u);
    EXPECT_LT(t1 - t0, 500000000u);
}

TEST(Random, FillsFromTheSystemAndZeroLengthWritesNothing)
{
    uint8_t a[64] = {}, b[64] = {};
    esp_fill_random(a, 64);
    esp_fill_random(b, 64);
    EXPECT_NE(std::memcmp(a, b, 64), 0);
    uint8_t untouched[4] = {7, 7, 7, 7};
    esp_fill_random(untouched, 0);
    esp_fill_random(untouched, -3);
    EXPECT_EQ(untouched[0] + untouched[1] + untouched[2] + untouched[3], 28);
}

TEST(Mac, AddressWithTypeAddedToTheLastByte)
{
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    unsetenv("KESTRUN_BT_ADDR");
    esp_efuse_mac_get_default(mac);
    for (uint8_t b : mac) EXPECT_EQ(b, 0);

    setenv("KESTRUN_BT_ADDR", "DC:A6:32:AB:CD:FF", 1);
    StdoutCapture capture;
    esp_read_mac(mac, 2);
    const uint8_t expected[6] = {0xDC, 0xA6, 0x32, 0xAB, 0xCD, 0x01};
    EXPECT_EQ(std::memcmp(mac, expected, 6), 0);
    EXPECT_EQ(capture.text(), "I (MAC Read): Bluetooth MAC of hci0: DC:A6:32:AB:CD:FF\n");
}
