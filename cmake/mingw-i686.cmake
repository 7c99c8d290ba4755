# MinGW-w64 toolchain for 32-bit Windows: the shipped build.
set(ZORV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
