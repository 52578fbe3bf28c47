#pragma once
// A millisecond tick count that advances in steps of 1/64 s, as the fades were timed against.

#include <cstdint>

namespace vesperon::app {

uint64_t TickCountMs();

}  // namespace vesperon::app
