// The window benchmarks register at run time: their sizes depend on which boxes the window has,
// which only an application object can tell.
#pragma once

namespace morvalen::bench {

void registerWindowBenchmarks();

} // namespace morvalen::bench
