# Cross build of the Windows program (64-bit variant).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVANE_MINGW x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
