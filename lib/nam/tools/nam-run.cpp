// nam-run: runs an amp model over a WAV file the way the amp-model player does (model built, then
// prewarmed once more, then fed in 16-sample blocks). Reads 16/24/32-bit PCM or 32/64-bit float WAV,
// takes the first channel, writes 32-bit float mono at the input's rate.
//
//   nam-run [--adjust] MODEL.nam IN.wav OUT.wav
//
// --adjust applies the model's recommended input and output dB adjustments around the model.
#include "NeuralAudio/NeuralModel.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 16;

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

struct Audio {
    uint32_t rate = 48000;
    std::vector<float> samples;
};

Audio readWav(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        throw std::runtime_error(path + " is not a WAV file");

    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    const unsigned char* data = nullptr;
    size_t dataSize = 0;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + pos;
        size_t size = le32(chunk + 4);
        size_t available = bytes.size() - pos - 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > available) throw std::runtime_error(path + ": broken format chunk");
            format = le16(chunk + 8);
            channels = le16(chunk + 10);
            rate = le32(chunk + 12);
            bits = le16(chunk + 22);
            // WAVE_FORMAT_EXTENSIBLE: the real format is the first two bytes of the sub-format GUID.
            if (format == 0xFFFE) {
                if (size < 40) throw std::runtime_error(path + ": broken format chunk");
                format = le16(chunk + 32);
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data = chunk + 8;
            dataSize = std::min(size, available); // a streamed file may carry a placeholder size
        }
        if (format && data) break;
        if (size > available) break;
        pos += 8 + size + (size & 1);
    }
    if (!format) throw std::runtime_error(path + ": no format chunk");
    if (!data) throw std::runtime_error(path + ": no data chunk");
    bool pcm = format == 1 && (bits == 16 || bits == 24 || bits == 32);
    bool floating = format == 3 && (bits == 32 || bits == 64);
    if ((!pcm && !floating) || channels == 0)
        throw std::runtime_error(path + ": unsupported sample format (format " + std::to_string(format) + ", " +
                                 std::to_string(bits) + " bits)");

    Audio audio;
    audio.rate = rate;
    size_t bytesPerSample = bits / 8, frameSize = bytesPerSample * channels;
    size_t frames = dataSize / frameSize;
    audio.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        const unsigned char* p = data + i * frameSize; // first channel only
        float value = 0.0f;
        if (format == 3 && bits == 32) {
            std::memcpy(&value, p, 4);
        } else if (format == 3) {
            double d;
            std::memcpy(&d, p, 8);
            value = float(d);
        } else if (bits == 16) {
            value = float(int16_t(le16(p))) / 32768.0f;
        } else if (bits == 24) {
            int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
            value = float(v) / 8388608.0f;
        } else {
            value = float(double(int32_t(le32(p))) / 2147483648.0);
        }
        audio.samples[i] = value;
    }
    return audio;
}

void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(char(v >> (8 * i)));
}

void put16(std::string& out, uint16_t v)
{
    out.push_back(char(v));
    out.push_back(char(v >> 8));
}

void writeWav(const std::string& path, const Audio& audio)
{
    uint32_t dataSize = uint32_t(audio.samples.size() * 4);
    std::string out = "RIFF";
    put32(out, 36 + dataSize);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 3); // IEEE float
    put16(out, 1);
    put32(out, audio.rate);
    put32(out, audio.rate * 4);
    put16(out, 4);
    put16(out, 32);
    out += "data";
    put32(out, dataSize);
    for (float s : audio.samples) {
        uint32_t bits;
        std::memcpy(&bits, &s, 4);
        put32(out, bits);
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), std::streamsize(out.size()));
    if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

int usage()
{
    std::cerr << "usage: nam-run [--adjust] MODEL.nam IN.wav OUT.wav\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    bool adjust = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--adjust" || arg == "-a") adjust = true;
        else if (arg.size() > 1 && arg[0] == '-') return usage();
        else args.push_back(arg);
    }
    if (args.size() != 3) return usage();

    try {
        std::ifstream modelFile(args[0], std::ios::binary);
        if (!modelFile) throw std::runtime_error("cannot open " + args[0]);
        std::unique_ptr<NeuralAudio::NeuralModel> model(NeuralAudio::NeuralModel::CreateFromStream(modelFile, ".nam"));
        model->Prewarm();

        Audio audio = readWav(args[1]);
        if (audio.rate != 48000)
            std::cerr << "note: " << args[1] << " is at " << audio.rate << " Hz; models run unchanged at any rate\n";
        float inGain = 1.0f, outGain = 1.0f;
        if (adjust) {
            inGain = std::pow(10.0f, model->GetRecommendedInputDBAdjustment() / 20.0f);
            outGain = std::pow(10.0f, model->GetRecommendedOutputDBAdjustment() / 20.0f);
            std::cerr << "input " << model->GetRecommendedInputDBAdjustment() << " dB, output "
                      << model->GetRecommendedOutputDBAdjustment() << " dB\n";
        }
        std::vector<float>& s = audio.samples;
        for (size_t at = 0; at < s.size(); at += kBlock) {
            size_t n = std::min(kBlock, s.size() - at);
            for (size_t i = 0; i < n; ++i) s[at + i] *= inGain;
            model->Process(s.data() + at, s.data() + at, n);
            for (size_t i = 0; i < n; ++i) s[at + i] *= outGain;
        }
        writeWav(args[2], audio);
    } catch (const std::exception& e) {
        std::cerr << "nam-run: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
