# `cpack -G DEB` in the build folder makes the Debian packages of exactly what `cmake --install`
# puts in place, under /usr, one package per install component, split as Debian splits its
# compressors: the tool alone (no Qt), the dialog, the shared library, its development files and
# the Python module. Library dependencies are computed by dpkg-shlibdeps. The packages are built
# by the project itself, so they are native ones: no Debian revision.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hufpack)
set(CPACK_PACKAGE_VENDOR "The Hufpack developers")
set(CPACK_PACKAGE_CONTACT ${HUFPACK_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_HUFPACK_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripArchives.cmake)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${HUFPACK_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HUFPACK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module's and the dialog's own libraries are found in the build, where the library is.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shared library with a soname gets a shlibs file: programs built against it depend on its
# package from this version on.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Each package's description below begins with its own summary; no common one goes before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")

set(hufpack_about
    "Hufpack compresses one file into one smaller file with static Huffman
coding over byte values, and restores it byte for byte. The compressed file
describes itself: a short header, a table of byte counts and the code bits.")

# Each package's name is its component's; its description's first line is its summary, and
# CPack indents the rest as a Debian control file wants it, an empty line between paragraphs.
foreach(component IN LISTS HUFPACK_COMPONENTS)
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${component})
endforeach()

set(CPACK_DEBIAN_HUFPACK_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_HUFPACK_DESCRIPTION "compress or restore files with static Huffman coding
${hufpack_about}

This package holds the command-line tool hufpack, for terminals and scripts,
with the habits of gzip, xz and zstd. A destination is written completely or
not at all.")
# Its tab completion is loaded by bash-completion, which a minimal system lacks.
set(CPACK_DEBIAN_HUFPACK_PACKAGE_RECOMMENDS bash-completion)

set(CPACK_DEBIAN_HUFPACK-GUI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_HUFPACK-GUI_DESCRIPTION "compress or restore files with static Huffman coding (dialog)
${hufpack_about}

This package holds the dialog program hufpack-gui, found in the desktop menu
as Hufpack: pick a source and a destination, press Encode! or Decode!.")
# The dialog measures its layout with Liberation Sans (DejaVu Sans stands in without it). Qt's
# X11 plugin comes with its GUI library; the Wayland one, which Qt loads at run time where
# dpkg-shlibdeps cannot see it, is a separate package. Its users mostly want the same jobs in a
# terminal too (the command-line tool is its own package, whose binary the AppStream data of
# the dialog does not claim).
set(CPACK_DEBIAN_HUFPACK-GUI_PACKAGE_RECOMMENDS "hufpack, fonts-liberation2, qt6-wayland")

set(CPACK_DEBIAN_LIBHUFPACK1_PACKAGE_SECTION libs)
# The loader's cache is rebuilt by dpkg's ldconfig trigger, which the package activates, rather
# than by maintainer scripts: its own scripts stand in for the ones CPack would write.
set(CPACK_DEBIAN_LIBHUFPACK1_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/libhufpack1/triggers
    ${CMAKE_CURRENT_LIST_DIR}/libhufpack1/postinst ${CMAKE_CURRENT_LIST_DIR}/libhufpack1/postrm)
set(CPACK_DEBIAN_LIBHUFPACK1_DESCRIPTION "static Huffman file compression library
${hufpack_about}

This package holds the shared library libhufpack, for programs that read or
write Hufpack's compressed files.")

set(CPACK_DEBIAN_LIBHUFPACK-DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBHUFPACK-DEV_DEPENDS libhufpack1)
set(CPACK_DEBIAN_LIBHUFPACK-DEV_DESCRIPTION "static Huffman file compression library (development files)
${hufpack_about}

This package holds what building a program against libhufpack takes: the
header hufpack.h, the static archive, the pkg-config file and the CMake
package.")

if(HUFPACK_BUILD_PYTHON)
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
    set(python ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
    math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PYTHON3-HUFPACK_PACKAGE_SECTION python)
    set(CPACK_COMPONENT_PYTHON3-HUFPACK_DEPENDS libhufpack1)
    # The module is built for this one version of the interpreter.
    set(CPACK_DEBIAN_PYTHON3-HUFPACK_PACKAGE_DEPENDS
        "python3 (>= ${python}), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor})")
    set(CPACK_DEBIAN_PYTHON3-HUFPACK_DESCRIPTION "static Huffman file compression (Python 3 module)
${hufpack_about}

This package holds the Python 3 module hufpack, on libhufpack: compress and
decompress bytes, open compressed files as file objects, and compress or
restore files with the tool's rules.")
endif()
include(CPack)
