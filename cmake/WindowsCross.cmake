# What the Windows cross build needs besides the toolchain file: the header-only libraries from
# Debian's Linux packages, GoogleTest from Debian's sources, the cross-built curl, and wine to run
# the test programs.

# Debian's configs for fmt, nlohmann-json and CLI11 export /usr/include, and glibc's headers there
# would shadow mingw's. A private folder holds links to just those three libraries' headers.
set(_tessel_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_tessel_headers})
foreach(_dir fmt nlohmann CLI)
  if(NOT EXISTS /usr/include/${_dir})
    message(FATAL_ERROR "/usr/include/${_dir} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK /usr/include/${_dir} ${_tessel_headers}/${_dir} SYMBOLIC)
endforeach()

function(_tessel_header_library name)
  add_library(${name} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_tessel_headers}
                                           ${ARGN})
endfunction()
_tessel_header_library(nlohmann_json::nlohmann_json)
_tessel_header_library(CLI11::CLI11)
# No Windows build of libfmt: its implementation comes in through the headers.
_tessel_header_library(fmt::fmt INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)

find_package(CURL CONFIG REQUIRED)

# Test programs run under wine in a prefix of this build's own, created by the first test (the
# fixture windows.wineprefix), with wine's diagnostics off; mono and gecko are never asked for.
find_program(TESSEL_WINE NAMES wine REQUIRED)
set(TESSEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(TESSEL_WINE_ENVIRONMENT
    "WINEPREFIX=${TESSEL_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${TESSEL_WINE_ENVIRONMENT} ${TESSEL_WINE})

# A program run at build time would have to run under wine: none is (no man page here).

# windows.h (which curl's headers bring in) defines ERROR as a macro in wingdi.h, which would
# break ExitCode::ERROR, and min/max macros; no part of this program draws, so GDI stays out.
add_compile_definitions(NOGDI NOMINMAX)
