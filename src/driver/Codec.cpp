#include "driver/Codec.h"

#include "porting/Log.h"

#include <algorithm>

float Codec::data[Codec::kChannels][Codec::kFrameSamples];
std::vector<CodecInterface*> Codec::ifaces;
std::atomic<CodecInterface*> Codec::active_codec{nullptr};
CodecInterface* Codec::board = nullptr;

void Codec::initialize()
{
    if (!board) board = createBoardCodec();
    addInterface(board);
    search();
}

void Codec::addInterface(CodecInterface* iface)
{
    if (!iface) return;
    if (std::find(ifaces.begin(), ifaces.end(), iface) != ifaces.end()) return;
    ifaces.push_back(iface);
}

void Codec::removeInterface(CodecInterface* iface)
{
    ifaces.erase(std::remove(ifaces.begin(), ifaces.end(), iface), ifaces.end());
    CodecInterface* expected = iface;
    active_codec.compare_exchange_strong(expected, nullptr);
}

void Codec::search()
{
    for (CodecInterface* iface : ifaces) {
        iface->initializeIO();
        LOG_I("Codec", "%s search\n", iface->getName());
        if (iface->initialize()) {
            LOG_I("Codec", "%s installed (fs=%d)\n", iface->getName(), kSampleRate);
            active_codec.store(iface, std::memory_order_release);
            return;
        }
        LOG_I("Codec", "%s not found\n", iface->getName());
    }
    if (!getActiveCodec()) LOG_E("Codec", "No audio codec connected\n");
}

bool Codec::audioRead(float gain)
{
    CodecInterface* codec = getActiveCodec();
    return codec ? codec->audioRead(gain) : false;
}

bool Codec::audioWrite(float gain)
{
    CodecInterface* codec = getActiveCodec();
    return codec ? codec->audioWrite(gain) : false;
}
