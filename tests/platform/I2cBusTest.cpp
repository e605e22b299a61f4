// The host model of the I2C bus and its converter: register pointer, byte order, faults.
#include "platform/I2cBus.h"
#include "platform/model/I2cModel.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(I2cBus, ConverterRegisters)
{
    int fd = I2cBus::open("/dev/i2c-5");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(I2cBus::selectAddress(fd, 0x48), 0);
    const uint8_t config[3] = {0x01, 0xC2, 0x83};
    EXPECT_EQ(I2cBus::write(fd, config, 3), 3);
    EXPECT_EQ(I2cModel::configuration(), 0xC283);
    uint8_t reply[2] = {};
    EXPECT_EQ(I2cBus::read(fd, reply, 2), 2); // the pointer still selects the configuration
    EXPECT_EQ(reply[0], 0xC2);
    EXPECT_EQ(reply[1], 0x83);
    I2cModel::setConversion(-2);
    const uint8_t pointer = 0x00;
    EXPECT_EQ(I2cBus::write(fd, &pointer, 1), 1);
    EXPECT_EQ(I2cBus::read(fd, reply, 2), 2);
    EXPECT_EQ(reply[0], 0xFF);
    EXPECT_EQ(reply[1], 0xFE);
    I2cBus::close(fd);
}

TEST(I2cBus, Faults)
{
    struct Case {
        const char* name;
        void (*fault)();
        int address;
        int selectResult;
        int writeError; // 0: the write goes through
    } cases[] = {
        {"none", [] {}, 0x48, 0, 0},
        {"other address", [] {}, 0x49, 0, ENXIO},
        {"ten bits", [] {}, 0x148, -1, ENXIO},
        {"held by a driver", [] { I2cModel::setAddressBusy(true); }, 0x48, -1, ENXIO},
        {"nack", [] { I2cModel::setWriteFailure(true); }, 0x48, 0, EREMOTEIO},
    };
    for (const auto& c : cases) {
        I2cModel::reset();
        c.fault();
        int fd = I2cBus::open("/dev/i2c-5");
        ASSERT_GE(fd, 0) << c.name;
        EXPECT_EQ(I2cBus::selectAddress(fd, c.address), c.selectResult) << c.name;
        const uint8_t pointer = 0;
        errno = 0;
        ssize_t written = I2cBus::write(fd, &pointer, 1);
        if (c.writeError) {
            EXPECT_EQ(written, -1) << c.name;
            EXPECT_EQ(errno, c.writeError) << c.name;
        } else {
            EXPECT_EQ(written, 1) << c.name;
        }
        I2cBus::close(fd);
    }
    I2cModel::reset();
    I2cModel::setBusPresent(false);
    errno = 0;
    EXPECT_EQ(I2cBus::open("/dev/i2c-5"), -1);
    EXPECT_EQ(errno, ENOENT);
}
