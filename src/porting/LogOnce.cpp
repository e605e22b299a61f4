#include "porting/LogOnce.h"

#include "porting/Log.h"

#include <bit>

bool LogOnce::changed(int64_t state, uint64_t times)
{
    if (started_ && state == state_) {
        repeats_ += times;
        return false;
    }
    if (tag_ && state_ != 0 && repeats_ > 0)
        LOG_I(tag_, "previous message repeated %llu times\n", static_cast<unsigned long long>(repeats_));
    started_ = true;
    state_ = state;
    repeats_ = times > 0 ? times - 1 : 0;
    return true;
}

bool LogOnce::reached(uint64_t total)
{
    const uint64_t added = total - total_;
    total_ = total;
    return changed(std::bit_width(total), added) && total > 0;
}
