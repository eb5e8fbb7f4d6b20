#pragma once

#include <algorithm>
#include <set>

namespace tavren::app {

// Where message boxes open when several are open at once: each one step
// (about a title bar's height) below and right of the last, so that every
// box shows. Places are numbered from 0, the place a box opens alone.
struct BoxRect {
    int x, y, width, height;
};

// The lowest place that no open box holds.
inline int FreeBoxPlace(const std::set<int>& taken) {
    int place = 0;
    while (taken.contains(place)) ++place;
    return place;
}

// The top left corner of a `width` x `height` box at `place`, the box alone
// opening at (`alone.x`, `alone.y`). Past the bottom or right edge of the
// work area the steps go on from the area's top left corner, and start
// over there once they leave it again.
inline BoxRect CascadeBox(int place, BoxRect alone, BoxRect area, int step) {
    step = std::max(step, 1);
    // How many steps from (x, y) stay inside the area; at least one place.
    const auto fits = [&](int x, int y) {
        return std::max(1, std::min(area.x + area.width - x - alone.width,
                                    area.y + area.height - y - alone.height) /
                                   step +
                               1);
    };
    const int first = fits(alone.x, alone.y);
    if (place < first) {
        return {alone.x + place * step, alone.y + place * step, alone.width, alone.height};
    }
    const int offset = (place - first) % fits(area.x, area.y) * step;
    return {area.x + offset, area.y + offset, alone.width, alone.height};
}

}  // namespace tavren::app
