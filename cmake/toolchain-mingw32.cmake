# Windows programs cross-built with Debian's mingw-w64 (posix threads, for std::thread): 32-bit by
# default; VELTRANO_MINGW_TRIPLE=x86_64-w64-mingw32 gives the same code as 64-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED VELTRANO_MINGW_TRIPLE)
  if(DEFINED ENV{VELTRANO_MINGW_TRIPLE})
    set(VELTRANO_MINGW_TRIPLE $ENV{VELTRANO_MINGW_TRIPLE})
  else()
    set(VELTRANO_MINGW_TRIPLE i686-w64-mingw32)
  endif()
endif()
set(VELTRANO_MINGW_TRIPLE ${VELTRANO_MINGW_TRIPLE} CACHE STRING "mingw-w64 target")
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${VELTRANO_MINGW_TRIPLE})

set(CMAKE_C_COMPILER ${VELTRANO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRANO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRANO_MINGW_TRIPLE}-windres)

# The libraries cross-built from Debian's sources live outside the repository (scripts/build-windows.sh).
if(NOT DEFINED VELTRANO_WINDEPS)
  if(DEFINED ENV{VELTRANO_WINDEPS})
    set(VELTRANO_WINDEPS $ENV{VELTRANO_WINDEPS})
  else()
    set(VELTRANO_WINDEPS $ENV{HOME}/.cache/veltrano-windeps)
  endif()
endif()
set(VELTRANO_WINDEPS ${VELTRANO_WINDEPS} CACHE PATH "Cross-built libraries for the Windows build")

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELTRANO_MINGW_TRIPLE VELTRANO_WINDEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRANO_MINGW_TRIPLE} ${VELTRANO_WINDEPS}/${VELTRANO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No mingw DLLs beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(VELTRANO_MINGW_TRIPLE MATCHES "^x86_64")
  find_program(VELTRANO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
find_program(VELTRANO_WINE wine)
if(VELTRANO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRANO_WINE})
endif()
