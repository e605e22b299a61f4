// The driver layer as a fresh process finds it: no codec registered (the board's own is made again
// from the environment of the next test), the panel array not initialised (its SPI thread has ended
// with the test) and its frames dropped.
#include "driver/Codec.h"
#include "driver/IOArray.h"
#include "platform/SpiBus.h"
#include "support/ResetAccess.h"
#include "support/ResetHooks.h"

template <>
struct TestReset<Codec> {
    static void run()
    {
        delete Codec::board; // leaves the registry itself
        Codec::board = nullptr;
        Codec::ifaces.clear();
        Codec::active_codec.store(nullptr);
    }
};

static void resetIOArray()
{
    spi_ioc_transfer* frame;
    while (IOArray::txQueue.try_dequeue(frame)) {}
    while (IOArray::rxQueue.try_dequeue(frame)) {}
    if (IOArray::spi_fd >= 0) SpiBus::close(IOArray::spi_fd);
    IOArray::spi_fd = -1;
    delete[] IOArray::input_buffer;
    delete[] IOArray::output_buffer;
    delete[] IOArray::buffer;
    delete[] IOArray::failed;
    delete[] IOArray::input_status;
    delete[] IOArray::output_status;
    delete[] IOArray::pwm_status;
    IOArray::input_buffer = IOArray::output_buffer = nullptr;
    IOArray::buffer = nullptr;
    IOArray::failed = nullptr;
    IOArray::input_status = IOArray::output_status = nullptr;
    IOArray::pwm_status = nullptr;
    IOArray::initialized.store(false);
    IOArray::running = false;
    IOArray::dryPasses = 0;
    IOArray::dryLog = LogOnce(IOArray::kTag);
}

static ResetHook driverReset([] {
    TestReset<Codec>::run();
    resetIOArray();
});
