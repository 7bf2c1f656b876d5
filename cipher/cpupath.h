// The processor-specific code of the cipher runs on one of several paths, one per instruction set.
// Every path gives the same bytes and the same answers; tests hold them to that. The path is
// chosen once per process: the widest the processor runs, or a slower one that the environment
// variable MORVALEN_CPU_PATH names, for bug reports and benchmarks.
#pragma once

#include <array>
#include <string_view>

namespace morvalen {

enum class CpuPath
{
    Fastest, // the process's path, as chosen once
    Plain, // portable C++, word at a time: every processor
    Sse2, // x86-64's baseline
    Avx2, // AVX2 and carry-less multiplication
    Avx512, // AVX-512 (BW, VL and VBMI) and carry-less multiplication
};

// Every path but Fastest, slowest first.
inline constexpr std::array kCpuPaths {CpuPath::Plain, CpuPath::Sse2, CpuPath::Avx2, CpuPath::Avx512};

// "plain", "sse2", "avx2", "avx512"; "fastest" for Fastest.
std::string_view cpuPathName(CpuPath path) noexcept;
// Whether this build and this processor can run path; Fastest always.
bool runsCpuPath(CpuPath path) noexcept;
// The path the process runs: MORVALEN_CPU_PATH's, when it names one that runs here, otherwise the
// widest that does. Chosen on the first call.
CpuPath processCpuPath() noexcept;

} // namespace morvalen
