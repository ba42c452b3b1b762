// Counts every allocation through the global operator new of the process: the benchmark
// program replaces it, and the libraries it loads (libquiltra.so, the camera driver) call
// the program's replacement, since their operator new is resolved at run time in the global
// scope, where the program comes first.
#pragma once

#include <cstdint>

namespace quiltra::bench {

// Allocations made so far by any thread, of any form of operator new.
std::uint64_t allocationCount();

}  // namespace quiltra::bench
