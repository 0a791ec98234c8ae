# What both toolchain files share: Debian's mingw-w64 for the target
# ORVANE_MINGW (i686, x86_64), the tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex and friends.
set(CMAKE_C_COMPILER ${ORVANE_MINGW}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
