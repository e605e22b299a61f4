// The converter driver against the host model of the I2C bus and its ADS1115.
#include "driver/ADS1115.h"
#include "platform/model/I2cModel.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

TEST(Ads1115, ConfiguresAndConvertsToMillivolts)
{
    StdoutCapture out;
    Ads1115 adc("/dev/i2c-5", 0x48);
    EXPECT_EQ(out.text(), "I (Ads1115): Device initialized /dev/i2c-5 - 72 (an in-memory model stands in)\n");
    // AIN0 against GND, +-4.096 V, continuous, 128 samples per second, comparator off.
    EXPECT_EQ(I2cModel::configuration(), 0xC283);
    struct Case {
        int16_t raw;
        int mv;
    } cases[] = {{0x7FFF, 4095}, {int16_t(0x8000), 0}, {-1, 0}, {0, 0}, {7, 0}, {8, 1}, {0x4000, 2048}, {12345, 1543}};
    for (const auto& c : cases) {
        I2cModel::setConversion(c.raw);
        EXPECT_EQ(adc.read_value_mv(), c.mv) << c.raw;
    }
    // A read always addresses the conversion register, whatever was selected before.
    EXPECT_EQ(I2cModel::pointer(), 0);
}

TEST(Ads1115, SetUpFailuresLeaveItSilentlyUninitialised)
{
    struct Case {
        const char* name;
        void (*fault)();
        const char* log;
        int writes; // accepted by the chip
    } cases[] = {
        {"no bus", [] { I2cModel::setBusPresent(false); }, "ERROR (Ads1115): Failed to open device /dev/i2c-5\n", 0},
        {"address held", [] { I2cModel::setAddressBusy(true); }, "ERROR (Ads1115): Failed to open address 72\n", 0},
        {"config refused", [] { I2cModel::setWriteFailure(true); },
         "I (Ads1115): Device initialized /dev/i2c-5 - 72 (an in-memory model stands in)\n"
         "ERROR (Ads1115): Failed to write config\n",
         0},
        {"no chip", [] { I2cModel::setChipAddress(0x49); },
         "I (Ads1115): Device initialized /dev/i2c-5 - 72 (an in-memory model stands in)\n"
         "ERROR (Ads1115): Failed to write config\n",
         0},
    };
    for (const auto& c : cases) {
        I2cModel::reset();
        c.fault();
        StdoutCapture out;
        Ads1115 adc("/dev/i2c-5", 0x48);
        // No retry of the set-up: the device stays unused once the fault is gone.
        I2cModel::reset();
        I2cModel::setConversion(800);
        EXPECT_EQ(adc.read_value_mv(), -1) << c.name;
        EXPECT_EQ(adc.read_value_mv(), -1) << c.name;
        EXPECT_EQ(out.text(), c.log) << c.name;
        EXPECT_FALSE(adc.isInitialized());
        EXPECT_EQ(I2cModel::writeCount(), c.writes) << c.name;
    }
}

TEST(Ads1115, ReadErrorIsReportedAndPasses)
{
    I2cModel::setConversion(8000); // 1000 mV
    Ads1115 adc("/dev/i2c-5", 0x48);
    I2cModel::setReadFailure(true);
    StdoutCapture out;
    EXPECT_EQ(adc.read_value_mv(), -1);
    EXPECT_EQ(out.text(), "ERROR (Ads1115): read error\n");
    I2cModel::setReadFailure(false);
    EXPECT_EQ(adc.read_value_mv(), 1000);
}
