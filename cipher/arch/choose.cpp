// Which room runs: what each needs of the processor, asked once, and the table chosen once per
// process. Compiled for every processor, as it runs before anything is chosen.
#include "cipher/arch/kernels.h"

#include <cstdlib>

namespace morvalen {
namespace {

bool processorRuns(CpuPath path) noexcept
{
    switch (path) {
    case CpuPath::Fastest:
    case CpuPath::Plain: return true;
#if MORVALEN_X86_ROOMS
    case CpuPath::Sse2: return true;
    case CpuPath::Avx2: {
        static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul");
        return avx2;
    }
    case CpuPath::Avx512: {
        static const bool avx512 = processorRuns(CpuPath::Avx2) && __builtin_cpu_supports("avx512bw")
            && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
        return avx512;
    }
#else
    default: return false;
#endif
    }
    return false;
}

CpuPath choose() noexcept
{
    if (const char* named = std::getenv("MORVALEN_CPU_PATH"); named != nullptr) {
        for (const CpuPath path : kCpuPaths) {
            if (cpuPathName(path) == named && processorRuns(path)) {
                return path;
            }
        }
    }
    CpuPath widest = CpuPath::Plain;
    for (const CpuPath path : kCpuPaths) {
        if (processorRuns(path)) {
            widest = path;
        }
    }
    return widest;
}

} // namespace

std::string_view cpuPathName(CpuPath path) noexcept
{
    switch (path) {
    case CpuPath::Fastest: return "fastest";
    case CpuPath::Plain: return "plain";
    case CpuPath::Sse2: return "sse2";
    case CpuPath::Avx2: return "avx2";
    case CpuPath::Avx512: return "avx512";
    }
    return "";
}

bool runsCpuPath(CpuPath path) noexcept
{
    return processorRuns(path);
}

CpuPath processCpuPath() noexcept
{
    static const CpuPath chosen = choose();
    return chosen;
}

const arch::Kernels& arch::kernels(CpuPath path) noexcept
{
    switch (path == CpuPath::Fastest ? processCpuPath() : path) {
#if MORVALEN_X86_ROOMS
    case CpuPath::Sse2: return kSse2;
    case CpuPath::Avx2: return kAvx2;
    case CpuPath::Avx512: return kAvx512;
#endif
    default: return kPlain;
    }
}

} // namespace morvalen
