# 32 bits: size_t, pointers and long are 4 bytes. An x86-64 kernel runs the tests without an
# emulator, through the cross loader: the multiarch loader that the target's libsodium brings
# along would not match the cross libc.
set(MORVALEN_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MORVALEN_CROSS_MULTIARCH i386-linux-gnu)
set(MORVALEN_CROSS_RUNNER /usr/i686-linux-gnu/lib/ld-linux.so.2 --library-path /usr/i686-linux-gnu/lib)
include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
