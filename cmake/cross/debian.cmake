# Cross builds with Debian's cross compilers (crossbuild-essential-<arch>) and the multiarch
# libraries of the target (libsodium-dev:<arch>, libgtest-dev:<arch>), included by the file of each
# target after it sets MORVALEN_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and MORVALEN_CROSS_RUNNER,
# and MORVALEN_CROSS_MULTIARCH where Debian's name for the libraries' folder differs.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT MORVALEN_CROSS_MULTIARCH)
    set(MORVALEN_CROSS_MULTIARCH ${MORVALEN_CROSS_TRIPLET})
endif()
set(CMAKE_C_COMPILER ${MORVALEN_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MORVALEN_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${MORVALEN_CROSS_MULTIARCH})

# The target's libraries and packages only, never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${MORVALEN_CROSS_TRIPLET} /usr/lib/${MORVALEN_CROSS_MULTIARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${MORVALEN_CROSS_MULTIARCH}/pkgconfig:/usr/share/pkgconfig)

# Tests run through the runner; the cross libc comes first on the library path, as the multiarch
# libc that the target's libsodium brings along would not match the cross loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVALEN_CROSS_RUNNER})
