# libjpeg for the Windows build: Debian ships no mingw-w64 build of it, so the static library
# is cross-built into the build tree from Debian's libjpeg-turbo source package, which
# scripts/setup downloads once into KLV_DEPS_CACHE. Defines the imported target klv::jpeg.
include_guard(GLOBAL)
include(ExternalProject)

set(KLV_DEPS_CACHE /var/cache/klvupgrade CACHE PATH
    "Folder holding the downloaded source packages (see scripts/setup)")

file(GLOB KLV_JPEG_ARCHIVES ${KLV_DEPS_CACHE}/libjpeg-turbo_*.orig.tar.gz)
if(NOT KLV_JPEG_ARCHIVES)
  message(FATAL_ERROR
    "libjpeg-turbo source not found in ${KLV_DEPS_CACHE}: run scripts/setup first")
endif()
list(SORT KLV_JPEG_ARCHIVES COMPARE NATURAL ORDER DESCENDING)
list(GET KLV_JPEG_ARCHIVES 0 KLV_JPEG_ARCHIVE)

set(KLV_JPEG_ROOT ${CMAKE_BINARY_DIR}/deps/libjpeg)
set(KLV_JPEG_LIBRARY ${KLV_JPEG_ROOT}/lib/libjpeg.a)
set(KLV_JPEG_INCLUDE ${KLV_JPEG_ROOT}/include)

# Only the static library (no tools, no TurboJPEG API, no SIMD: nasm is not needed), and
# only its headers and archive are installed.
ExternalProject_Add(klv_libjpeg_build
  URL ${KLV_JPEG_ARCHIVE}
  PREFIX ${CMAKE_BINARY_DIR}/deps/libjpeg-build
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=MinSizeRel
    # The stub decodes one small picture: size over speed, and no JPEGMEM variable read
    # (its sscanf would bring the C library's whole scanf), and msvcrt's printf for its messages
    # (mingw-w64's own carries floating-point formatting the stub never uses).
    "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections -DNO_GETENV -D__USE_MINGW_ANSI_STDIO=0"
    -DCMAKE_INSTALL_PREFIX=${KLV_JPEG_ROOT}
    -DCMAKE_POLICY_DEFAULT_CMP0091=NEW
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
    -DWITH_JAVA=OFF -DWITH_FUZZ=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND
    ${CMAKE_COMMAND} -E make_directory ${KLV_JPEG_ROOT}/lib ${KLV_JPEG_INCLUDE}
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libjpeg.a ${KLV_JPEG_LIBRARY}
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/jconfig.h ${KLV_JPEG_INCLUDE}
    COMMAND ${CMAKE_COMMAND} -E copy <SOURCE_DIR>/jpeglib.h <SOURCE_DIR>/jmorecfg.h
            <SOURCE_DIR>/jerror.h ${KLV_JPEG_INCLUDE}
  BUILD_BYPRODUCTS ${KLV_JPEG_LIBRARY}
  DOWNLOAD_EXTRACT_TIMESTAMP ON
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# The include folder must exist when the imported target is defined.
file(MAKE_DIRECTORY ${KLV_JPEG_INCLUDE})
add_library(klv::jpeg STATIC IMPORTED GLOBAL)
set_target_properties(klv::jpeg PROPERTIES
  IMPORTED_LOCATION ${KLV_JPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${KLV_JPEG_INCLUDE})
add_dependencies(klv::jpeg klv_libjpeg_build)
