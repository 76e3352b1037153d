# Cross-builds the Windows program with mingw-w64 (i686), posix thread
# model (std::thread, std::mutex), statically linked so postil.exe needs no
# DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Run under Wine's 32-bit loader when it is installed; otherwise built only.
find_program(POSTIL_WINE32 NAMES wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(POSTIL_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${POSTIL_WINE32})
endif()
