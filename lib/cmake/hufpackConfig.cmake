# find_package(hufpack): hufpack::hufpack, the shared library, and hufpack::hufpack_static.
include("${CMAKE_CURRENT_LIST_DIR}/hufpackTargets.cmake")
