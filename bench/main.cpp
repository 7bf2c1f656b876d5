#include <benchmark/benchmark.h>

#ifdef MORVALEN_WINDOW_BENCH
#include "window_bench.h"

#include <QApplication>
#include <cstdlib>
#endif

int main(int argc, char** argv)
{
#ifdef MORVALEN_WINDOW_BENCH
    // The window benchmarks need an application object but no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    morvalen::bench::registerWindowBenchmarks();
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
