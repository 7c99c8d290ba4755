# MinGW-w64 toolchain for 64-bit Windows; the programs it builds run here under Wine.
set(ZORV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
