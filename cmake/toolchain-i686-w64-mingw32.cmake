# Cross build of the Windows program (32-bit, the shipped one).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVANE_MINGW i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
