# libjpeg for the Windows tree: Debian's libjpeg-turbo source package, fetched with
# `apt-get source` (needs deb-src entries, which scripts/setup adds) and cross-built as a
# static library with this tree's toolchain. Everything stays in the build tree, so a
# rebuild reuses it and a fresh tree fetches it once.
#
# Provides the interface target quillet_libjpeg (headers, libjpeg.a) and the build target
# quillet_libjpeg_build that consumers must depend on.
include_guard(GLOBAL)
include(ExternalProject)

set(QUILLET_JPEG_ROOT ${CMAKE_BINARY_DIR}/libjpeg-turbo)
set(QUILLET_JPEG_SOURCE ${QUILLET_JPEG_ROOT}/source)
set(QUILLET_JPEG_BINARY ${QUILLET_JPEG_ROOT}/build)
set(QUILLET_JPEG_LIBRARY ${QUILLET_JPEG_BINARY}/libjpeg.a)

ExternalProject_Add(quillet_libjpeg_build
  PREFIX ${QUILLET_JPEG_ROOT}
  SOURCE_DIR ${QUILLET_JPEG_SOURCE}
  BINARY_DIR ${QUILLET_JPEG_BINARY}
  DOWNLOAD_COMMAND ${CMAKE_COMMAND} -DDEST=${QUILLET_JPEG_SOURCE} -DWORK=${QUILLET_JPEG_ROOT}/download
                   -P ${CMAKE_CURRENT_LIST_DIR}/fetch-debian-source.cmake
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${QUILLET_JPEG_ROOT}/install
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=OFF
    -DWITH_SIMD=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${QUILLET_JPEG_BINARY} --target jpeg-static
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${QUILLET_JPEG_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON
)

# The include directories must exist when the tree is configured.
file(MAKE_DIRECTORY ${QUILLET_JPEG_SOURCE} ${QUILLET_JPEG_BINARY})
add_library(quillet_libjpeg INTERFACE)
target_include_directories(quillet_libjpeg SYSTEM INTERFACE ${QUILLET_JPEG_SOURCE} ${QUILLET_JPEG_BINARY})
target_link_libraries(quillet_libjpeg INTERFACE ${QUILLET_JPEG_LIBRARY})
add_dependencies(quillet_libjpeg quillet_libjpeg_build)
