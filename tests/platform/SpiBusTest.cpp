// The model of the panel's SPI chain: what the program's spidev requests see (either target).
#include "platform/SpiBus.h"
#include "platform/DeviceNodes.h"
#include "platform/model/SpiChain.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

namespace {

spi_ioc_transfer message(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speed)
{
    spi_ioc_transfer t{};
    t.tx_buf = uint64_t(uintptr_t(tx));
    t.rx_buf = uint64_t(uintptr_t(rx));
    t.len = len;
    t.speed_hz = speed;
    t.bits_per_word = 8;
    return t;
}

} // namespace

TEST(SpiBus, ShiftsOutAndInAtTheWirePace)
{
    int fd = SpiBus::open("/dev/spidev0.0");
    ASSERT_GE(fd, 0);
    uint8_t mode = 0;
    EXPECT_EQ(SpiBus::writeMode(fd, SPI_MODE_2), 0);
    EXPECT_EQ(SpiBus::readMode(fd, &mode), 0);
    EXPECT_EQ(mode, SPI_MODE_2);

    SpiChain::setInputs({0x11, 0x22});
    uint8_t tx[3] = {1, 2, 3}, rx[3] = {9, 9, 9};
    auto t = message(tx, rx, 3, 24000); // 1 ms a frame
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(SpiBus::transfer(fd, &t), 3);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(20));
    EXPECT_LT(elapsed, std::chrono::milliseconds(200));
    EXPECT_EQ(rx[0], 0x11);
    EXPECT_EQ(rx[1], 0x22);
    EXPECT_EQ(rx[2], 0); // beyond the inputs set
    auto sent = SpiChain::takeSent();
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(sent.back(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(SpiChain::takeSent().empty());
    EXPECT_EQ(SpiChain::speed(), 24000u);
    EXPECT_EQ(SpiChain::transfers(), 20u);

    // Unpaced: at once.
    SpiChain::setPaced(false);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) SpiBus::transfer(fd, &t);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    // The model goes by the request numbers spidev defines: a message of two transfers, which the
    // chain's driver never sends, is not taken for one of one.
    spi_ioc_transfer two[2] = {t, t};
    errno = 0;
    EXPECT_EQ(DeviceNodes::current().ioctl(fd, SPI_IOC_MESSAGE(2), two), -1);
    EXPECT_EQ(errno, ENOTTY);
    SpiBus::close(fd);
}

TEST(SpiBus, Faults)
{
    struct Case {
        const char* name;
        void (*fault)();
        bool opens;
        int modeResult;
        int transferResult;
        int error;
    } cases[] = {
        {"none", [] {}, true, 0, 2, 0},
        {"mode refused", [] { SpiChain::setModeFailure(true); }, true, -1, 2, 0},
        {"transfer error", [] { SpiChain::setTransferFailure(true); }, true, 0, -1, EIO},
        {"absent", [] { SpiChain::setPresent(false); }, false, -1, -1, EBADF},
    };
    for (const auto& c : cases) {
        SpiChain::reset();
        SpiChain::setPaced(false);
        c.fault();
        int fd = SpiBus::open("/dev/spidev0.0");
        EXPECT_EQ(fd >= 0, c.opens) << c.name;
        EXPECT_EQ(SpiBus::writeMode(fd, SPI_MODE_2), c.modeResult) << c.name;
        uint8_t tx[2] = {}, rx[2] = {};
        auto t = message(tx, rx, 2, 1000000);
        errno = 0;
        EXPECT_EQ(SpiBus::transfer(fd, &t), c.transferResult) << c.name;
        if (c.transferResult < 0) {
            EXPECT_EQ(errno, c.error) << c.name;
        }
        SpiBus::close(fd);
    }
}
