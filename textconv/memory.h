// A hint for buffers of many megabytes: back them with transparent huge pages where the system
// allows it. On virtual machines a first touch of each 4 KiB page can cost microseconds, which
// for a 70 MB key outweighs all of the cipher's own work; 2 MiB pages take 512 times fewer faults.
// The hint changes no contents and is ignored where it is not supported.
#pragma once

#include <cstddef>

namespace morvalen {

void adviseHugePages(void* data, std::size_t size) noexcept;

} // namespace morvalen
