# `cpack -G DEB` in the build folder makes a Debian package of exactly what `cmake --install`
# puts in place, under /usr, with its library dependencies computed by dpkg-shlibdeps. The
# package is built by the project itself, so it is a native one: no Debian revision.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hufpack)
set(CPACK_PACKAGE_VENDOR "The Hufpack developers")
set(CPACK_PACKAGE_CONTACT ${HUFPACK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compress or restore a file with static Huffman coding")
set(CPACK_PACKAGE_DESCRIPTION
    "Hufpack compresses one file into one smaller file with static Huffman coding
over byte values, and restores it byte for byte. The compressed file describes
itself: a short header, a table of byte counts and the code bits.
.
This package holds the dialog program hufpack-gui, found in the desktop menu as
Hufpack, and the command-line tool hufpack for terminals and scripts. A
destination is written completely or not at all.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HUFPACK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The tool's tab completion is loaded by bash-completion, which a minimal system lacks.
set(recommends bash-completion)
if(HUFPACK_BUILD_GUI)
    # The dialog measures its layout with Liberation Sans (DejaVu Sans stands in without it).
    # Qt's X11 plugin comes with its GUI library; the Wayland one, which Qt loads at run time
    # where dpkg-shlibdeps cannot see it, is a separate package.
    list(APPEND recommends fonts-liberation2 qt6-wayland)
endif()
list(JOIN recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
include(CPack)
