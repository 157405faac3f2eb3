# Turns the four configuration cache variables into a generated header.
if(TESSEL_PYPI_URL STREQUAL "")
  message(FATAL_ERROR "TESSEL_PYPI_URL must not be empty")
endif()
if(NOT TESSEL_TIMEOUT MATCHES "^[0-9]+$" OR TESSEL_TIMEOUT EQUAL 0)
  message(FATAL_ERROR "TESSEL_TIMEOUT must be a positive whole number of seconds, got '${TESSEL_TIMEOUT}'")
endif()

# C++ string literal of an arbitrary text (backslashes and double quotes escaped).
function(_tessel_cxx_literal out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

_tessel_cxx_literal(TESSEL_PYPI_URL_LITERAL "${TESSEL_PYPI_URL}")
_tessel_cxx_literal(TESSEL_API_PACKAGE_PERMISSIONS_LITERAL "${TESSEL_API_PACKAGE_PERMISSIONS}")
set(TESSEL_HEADERS_LITERALS "")
foreach(line IN LISTS TESSEL_HEADERS)
  _tessel_cxx_literal(lit "${line}")
  string(APPEND TESSEL_HEADERS_LITERALS "    ${lit},\n")
endforeach()

list(LENGTH TESSEL_HEADERS TESSEL_HEADERS_COUNT)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/src/tessel_installer/config.hpp.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/tessel_installer/config.hpp @ONLY)
