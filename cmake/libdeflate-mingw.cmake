# libdeflate for the Windows build of klvpack: Debian ships no mingw-w64 build of it, so the
# static library is cross-built into the build tree from Debian's libdeflate source package,
# which scripts/setup downloads once into KLV_DEPS_CACHE (as libjpeg-mingw.cmake does for
# libjpeg). Defines the imported target klv::deflate.
include_guard(GLOBAL)
include(ExternalProject)

set(KLV_DEPS_CACHE /var/cache/klvupgrade CACHE PATH
    "Folder holding the downloaded source packages (see scripts/setup)")

file(GLOB KLV_DEFLATE_ARCHIVES ${KLV_DEPS_CACHE}/libdeflate_*.orig.tar.gz)
if(NOT KLV_DEFLATE_ARCHIVES)
  message(FATAL_ERROR
    "libdeflate source not found in ${KLV_DEPS_CACHE}: run scripts/setup first")
endif()
list(SORT KLV_DEFLATE_ARCHIVES COMPARE NATURAL ORDER DESCENDING)
list(GET KLV_DEFLATE_ARCHIVES 0 KLV_DEFLATE_ARCHIVE)

set(KLV_DEFLATE_ROOT ${CMAKE_BINARY_DIR}/deps/libdeflate)
set(KLV_DEFLATE_LIBRARY ${KLV_DEFLATE_ROOT}/lib/libdeflate.a)
set(KLV_DEFLATE_INCLUDE ${KLV_DEFLATE_ROOT}/include)

# Its own Makefile, with the cross compiler; only the static library (which the Makefile
# names libdeflatestatic.lib for a Windows target), without the gzip and zlib wrappers.
ExternalProject_Add(klv_libdeflate_build
  URL ${KLV_DEFLATE_ARCHIVE}
  PREFIX ${CMAKE_BINARY_DIR}/deps/libdeflate-build
  BUILD_IN_SOURCE ON
  CONFIGURE_COMMAND ""
  BUILD_COMMAND make -s CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR}
    DISABLE_GZIP=1 DISABLE_ZLIB=1 libdeflatestatic.lib
  INSTALL_COMMAND
    ${CMAKE_COMMAND} -E make_directory ${KLV_DEFLATE_ROOT}/lib ${KLV_DEFLATE_INCLUDE}
    COMMAND ${CMAKE_COMMAND} -E copy <SOURCE_DIR>/libdeflatestatic.lib ${KLV_DEFLATE_LIBRARY}
    COMMAND ${CMAKE_COMMAND} -E copy <SOURCE_DIR>/libdeflate.h ${KLV_DEFLATE_INCLUDE}
  BUILD_BYPRODUCTS ${KLV_DEFLATE_LIBRARY}
  DOWNLOAD_EXTRACT_TIMESTAMP ON
  LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# The include folder must exist when the imported target is defined.
file(MAKE_DIRECTORY ${KLV_DEFLATE_INCLUDE})
add_library(klv::deflate STATIC IMPORTED GLOBAL)
set_target_properties(klv::deflate PROPERTIES
  IMPORTED_LOCATION ${KLV_DEFLATE_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${KLV_DEFLATE_INCLUDE})
add_dependencies(klv::deflate klv_libdeflate_build)
