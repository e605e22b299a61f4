// The WAV reader of the host codec's file input: open, read every frame in odd counts, rewind.
#include "FuzzSupport.h"

#include "driver/model/WavReader.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_setup();
    // The reader reads a path: an in-memory file keeps the runs off the disk.
    int fd = memfd_create("fuzz.wav", 0);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += size_t(n);
    }
    WavReader reader;
    std::string error;
    if (reader.open("/proc/self/fd/" + std::to_string(fd), error)) {
        float left[WavReader::kMaxFrames], right[WavReader::kMaxFrames];
        uint64_t frames = 0;
        for (size_t count = 1; size_t got = reader.read(left, right, count);
             count = count % WavReader::kMaxFrames + 1) {
            if (got > count) std::abort();
            frames += got;
        }
        if (frames != reader.frames()) std::abort();
        reader.rewind();
        reader.read(left, right, WavReader::kMaxFrames);
    }
    ::close(fd);
    return 0;
}
