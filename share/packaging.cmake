# The Debian package, made by `make package` (cpack --preset release) as
# build/release/morvalen_<version>_<arch>.deb. Name, version, homepage and maintainer come from the
# top CMakeLists; the files are what the install rules put under the prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvalen)
# CPack would build the version from major.minor.patch alone and drop the fourth part.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Morvalen developers")
set(CPACK_PACKAGE_CONTACT "${MORVALEN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hex cipher with random bit masks, as a window and a command")
# Wrapped by hand: CPack indents each line and marks blank ones, but wraps nothing.
set(CPACK_PACKAGE_DESCRIPTION [[
Morvalen encrypts a string of hexadecimal digits with freshly drawn random
bit masks, shows the key it used (the encrypting bits) and decrypts the
result again. Every hex digit is XORed with at least 13 random 4-bit masks,
and with more for as long as it comes out zero, so no encrypted digit is 0.

This package holds the Qt window, morvalen, and the command line program
for scripts, morvalen-cli.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# md5sums and the like as 0644, whatever the umask of the one who builds.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
