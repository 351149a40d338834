# What both mingw-w64 cross toolchains share; the including file sets MINGW_ARCH (i686, x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})

set(MINGW_PREFIX ${MINGW_ARCH}-w64-mingw32)
# The posix thread model: the C++ library then has std::thread and std::mutex, which GoogleTest
# needs; -static links its winpthread in, so the program still needs no DLL beyond the system's.
find_program(MINGW_CXX NAMES ${MINGW_PREFIX}-g++-posix ${MINGW_PREFIX}-g++)
find_program(MINGW_CC NAMES ${MINGW_PREFIX}-gcc-posix ${MINGW_PREFIX}-gcc)
find_program(MINGW_RC ${MINGW_PREFIX}-windres)
if(NOT MINGW_CXX OR NOT MINGW_CC OR NOT MINGW_RC)
    message(FATAL_ERROR "The mingw-w64 ${MINGW_ARCH} cross compiler was not found "
                        "(install Debian's g++-mingw-w64-${MINGW_ARCH}, or run 'make test').")
endif()
set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_RC_COMPILER ${MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test binaries run under Wine, in a Japanese locale so the dialog's captions survive.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
