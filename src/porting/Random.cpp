#include "porting/Random.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>

void esp_fill_random(void* buffer, int length)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    int done = 0;
    while (done < length) {
        ssize_t n = getrandom(bytes + done, size_t(length - done), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += int(n);
    }
}
