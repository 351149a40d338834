# Cross toolchain: 32-bit Windows programs with mingw-w64 (i686).
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# SSE2 floating point, as the x86-64 build computes: without it the 32-bit program would compute
# in x87 extended precision and could print other digits than the tested 64-bit image. Every
# processor that runs a current Windows has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
