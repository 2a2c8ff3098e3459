# Cross-building Orvane.exe with Debian's mingw-w64 (64-bit, POSIX threads
# variant, which GoogleTest needs). Tests run through Wine when it is there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${ORVANE_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libstdc++, libgcc or winpthread DLLs to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

if(EXISTS /usr/lib/wine/wine64)
  get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
                         ${CMAKE_CURRENT_LIST_DIR}/../tools/wine64.sh ABSOLUTE)
endif()
