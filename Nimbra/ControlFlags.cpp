#include "Nimbra/ControlFlags.h"

std::atomic<bool> gbIsNeedPause{false};
std::atomic<bool> gbIsNeedStopEx{false};
