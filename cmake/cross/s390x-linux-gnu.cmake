# Big-endian.
set(MORVALEN_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(MORVALEN_CROSS_RUNNER qemu-s390x -L /usr/s390x-linux-gnu -E LD_LIBRARY_PATH=/usr/s390x-linux-gnu/lib)
include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
