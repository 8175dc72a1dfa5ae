#include "uilib/focus_order.h"

namespace uilib {

int NextFocus(const bool* usable, int count, int current, bool forward) {
    if (count <= 0) return -1;
    if (current < 0 || current >= count) current = forward ? -1 : count;
    for (int step = 1; step <= count; ++step) {
        int i = forward ? current + step : current - step;
        i = ((i % count) + count) % count;
        if (usable[i]) return i;
    }
    return -1;
}

}  // namespace uilib
