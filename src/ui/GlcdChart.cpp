#include "ui/GlcdChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ui/Glcd.h"

void GlcdChart::setData(float* values, int n)
{
    if (!values || n < 1) {
        data = nullptr;
        count = 0;
        return;
    }
    data = values;
    count = n;
}

void GlcdChart::setSize(int x1, int y1, int x2, int y2)
{
    x = x1;
    y = y1;
    width = x2;
    height = y2;
}

void GlcdChart::setAxis(int mode, int)
{
    axisMode = mode & 3;
}

void GlcdChart::setYLimits(float min, float max, bool useMin, bool useMax)
{
    limitMin = min;
    limitMax = max;
    useLimitMin = useMin;
    useLimitMax = useMax;
}

void GlcdChart::setYRange(float min, float max, bool useMin, bool useMax)
{
    rangeMin = min;
    rangeMax = max;
    useRangeMin = useMin;
    useRangeMax = useMax;
}

void GlcdChart::setOptions(int value)
{
    options = value;
}

void GlcdChart::draw(int first, int last)
{
    draw(first, last, -1);
}

void GlcdChart::draw(int first, int last, int cursor)
{
    // setSize keeps the second corner in width and height.
    int x1 = x, y1 = y, x2 = width, y2 = height;
    if (x2 <= x1 || y2 <= y1) return;

    bool haveData = data && count > 0;
    first = std::clamp(first, 0, std::max(count - 1, 0));
    last = std::clamp(last, first, std::max(count - 1, 0));

    float lo = 0, hi = 0;
    if (haveData) {
        lo = hi = data[first];
        for (int i = first; i <= last; i++) {
            lo = std::min(lo, data[i]);
            hi = std::max(hi, data[i]);
        }
    }
    if (useRangeMin) lo = std::min(lo, rangeMin);
    if (useRangeMax) hi = std::max(hi, rangeMax);
    if (useLimitMin) lo = std::max(lo, limitMin), hi = std::max(hi, limitMin);
    if (useLimitMax) hi = std::min(hi, limitMax), lo = std::min(lo, limitMax);
    lastMin = lo;
    lastMax = hi;

    // Labels take the left columns: the lines start after them.
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(hi));
    glcd_drawString(uint8_t(x1), uint8_t(y1), text, 1);
    std::snprintf(text, sizeof text, "%.2f", double(lo));
    glcd_drawString(uint8_t(x1), uint8_t(y2 - 4), text, 1);

    auto row = [&](float v) {
        float span = hi - lo;
        float t = span > 0 ? (v - lo) / span : 0.5f;
        t = std::clamp(t, 0.0f, 1.0f);
        return y2 - int(std::lround(t * float(y2 - y1)));
    };
    auto column = [&](int i) {
        int n = last - first;
        return n > 0 ? x1 + (i - first) * (x2 - x1) / n : x1;
    };

    if (options & 1) glcd_drawLine(uint8_t(x1), uint8_t(y2), uint8_t(x2), uint8_t(y2), 1);
    if (options & 2) glcd_drawLine(uint8_t(x1), uint8_t(y1), uint8_t(x1), uint8_t(y2), 1);

    if (haveData) {
        for (int i = first; i < last; i++)
            glcd_drawLine(uint8_t(column(i)), uint8_t(row(data[i])), uint8_t(column(i + 1)), uint8_t(row(data[i + 1])),
                          1);
        if (first == last) glcd_drawPixel(uint8_t(column(first)), uint8_t(row(data[first])), 1);
    }

    if (haveData && cursor >= first && cursor <= last) {
        int cx = column(cursor);
        for (int cy = y1; cy <= y2; cy += 2) glcd_drawPixel(uint8_t(cx), uint8_t(cy), 1);
        std::snprintf(text, sizeof text, "%.2f", double(data[cursor]));
        int tx = std::min(cx + 2, 127 - 4 * int(std::strlen(text)));
        glcd_drawString(uint8_t(std::max(tx, 0)), uint8_t(std::max(row(data[cursor]) - 6, 0)), text, 1);
    }
}
