#include "SingleInstance.h"

void PublishMainWindow(std::uint32_t) {}
