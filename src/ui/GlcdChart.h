#pragma once

// A line chart drawn into the monochrome buffer: the data as connected lines scaled into a
// rectangle, an optional dotted cursor, the selected axes, and the maximum, minimum and cursor value
// ("%.2f") in the small font. The data is not owned. "systemTasks" only.
class GlcdChart {
public:
    GlcdChart() = default;

    // Null or a count below 1 clears the data.
    void setData(float* values, int count);
    // Corners (x1, y1) and (x2, y2), kept as position and size.
    void setSize(int x1, int y1, int x2, int y2);
    void setAxis(int mode, int unused);
    // The drawn scale never goes below min (when useMin) or above max (when useMax).
    void setYLimits(float min, float max, bool useMin, bool useMax);
    // The drawn scale always includes min (when useMin) and max (when useMax).
    void setYRange(float min, float max, bool useMin, bool useMax);
    // Bit 0 draws the x axis, bit 1 the y axis.
    void setOptions(int options);
    float getMax() const { return lastMax; }
    float getMin() const { return lastMin; }

    // Values first .. last; a cursor index of -1 draws no cursor.
    void draw(int first, int last, int cursor);
    void draw(int first, int last);

    float* data = nullptr;
    int count = 0;
    int x = 0, y = 0, width = 0, height = 0;
    float limitMin = 0, limitMax = 0;
    bool useLimitMin = false, useLimitMax = false;
    float rangeMin = 0, rangeMax = 0;
    bool useRangeMin = false, useRangeMax = false;
    int axisMode = 0;
    int options = 0;
    float lastMax = 0, lastMin = 0;
};
