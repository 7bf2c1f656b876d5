set(MORVALEN_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MORVALEN_CROSS_RUNNER qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
