# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model: std::thread needs it).
# The programs it builds run here under wine (CMAKE_CROSSCOMPILING_EMULATOR, set in cmake/WindowsCross.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The cross-built curl (scripts/build-windows-deps), in a prefix outside the repository.
if(NOT TESSEL_WINDOWS_DEPS_PREFIX)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-windows-deps --print-prefix
                  OUTPUT_VARIABLE TESSEL_WINDOWS_DEPS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _tessel_deps_result)
  if(NOT _tessel_deps_result EQUAL 0)
    message(FATAL_ERROR "libcurl for Windows is missing: run scripts/build-windows-deps")
  endif()
endif()

# Libraries and headers come from the mingw sysroot and the cross-built curl only: the host's
# /usr/include must never reach the compiler, its glibc headers would shadow mingw's.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${TESSEL_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained program: static libgcc and libstdc++ alone would still import
# libwinpthread-1.dll, so everything is linked statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
