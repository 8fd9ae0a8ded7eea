#include "Nimbra/ControlFlags.h"

std::atomic<bool> gbIsNeedPause{false};
std::atomic<bool> gbIsNeedStopEx{false};

void ConsumeStop() {
    gbIsNeedPause = false;
    gbIsNeedStopEx = false;
}
