# cmake -P: the index's trusted-host entry for each spelling of TESSEL_PYPI_URL.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TrustedHost.cmake)
set(cases
  "127.0.0.1:18443|127.0.0.1:18443"
  "pypi.tessel.test:23443/simple|pypi.tessel.test:23443"
  "pypi.tessel.example/simple/|pypi.tessel.example"
  "user:secret@pypi.example:8443/s|pypi.example:8443"
  "[::1]:8443/x?y|[::1]:8443")
set(failed 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 value)
  list(GET parts 1 expected)
  tessel_trusted_host_of(got "${value}")
  if(NOT got STREQUAL expected)
    message(SEND_ERROR "${value}: got '${got}', expected '${expected}'")
    set(failed 1)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "trusted-host derivation failed")
endif()
