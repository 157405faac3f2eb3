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

include(${CMAKE_CURRENT_LIST_DIR}/TrustedHost.cmake)
set(TESSEL_TRUSTED_HOSTS_LITERALS "")
set(TESSEL_TRUSTED_HOSTS_COUNT 0)
foreach(host IN LISTS TESSEL_TRUSTED_HOSTS)
  if(host STREQUAL "TESSEL_PYPI_URL")
    tessel_trusted_host_of(host "${TESSEL_PYPI_URL}")
  endif()
  _tessel_cxx_literal(lit "${host}")
  string(APPEND TESSEL_TRUSTED_HOSTS_LITERALS "    ${lit},\n")
  math(EXPR TESSEL_TRUSTED_HOSTS_COUNT "${TESSEL_TRUSTED_HOSTS_COUNT} + 1")
endforeach()

# Without a scheme libcurl would guess http:// and send the bearer token in clear text.
if(NOT TESSEL_API_PACKAGE_PERMISSIONS MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://")
  message(FATAL_ERROR "TESSEL_API_PACKAGE_PERMISSIONS must start with https:// (or http://), "
                      "got '${TESSEL_API_PACKAGE_PERMISSIONS}'")
endif()

# The catalogue request carries the Authorization header: over plain HTTP to another machine it,
# and anything a proxy in between sees, travels in clear text.
if(TESSEL_API_PACKAGE_PERMISSIONS MATCHES "^[Hh][Tt][Tt][Pp]://([^/?#]*@)?([^/?#]*)")
  set(_host_port "${CMAKE_MATCH_2}")
  if(NOT _host_port MATCHES "^(localhost|127\\.[0-9.]+|\\[::1\\])(:[0-9]*)?$")
    message(WARNING "TESSEL_API_PACKAGE_PERMISSIONS is http:// to ${_host_port}, which is not "
                    "loopback: the catalogue request's headers (its Authorization among them) "
                    "would cross the network, and any http_proxy, in clear text. Use https://.")
  endif()
endif()

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/src/tessel_installer/config.hpp.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/tessel_installer/config.hpp @ONLY)
