# Cross toolchain: 64-bit Windows builds of the same sources (mingw-w64 x86_64), for running the
# Windows tests under 64-bit Wine on machines that cannot execute 32-bit x86 code.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The program is 32-bit Win32 code and reads its instance with GetWindowLongA(GWL_HINSTANCE),
# an index that 64-bit headers leave out; win64-include/ holds a windows.h that names it again.
# (64-bit Wine answers it with 0, and a class registered with no instance works all the same.)
set(CMAKE_C_FLAGS_INIT "-isystem ${CMAKE_CURRENT_LIST_DIR}/win64-include")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CMAKE_CURRENT_LIST_DIR}/win64-include")
