#include "logstate.h"

std::atomic<ILog*> logger{nullptr};
std::mutex ll;
