# The Windows package: tessel-installer-VERSION-win64.zip with the program, the README, this
# project's licence and the licences of everything linked into the program (curl's from its
# source, the others from the Debian packages whose files were compiled in).
set(_licences ${CMAKE_CURRENT_BINARY_DIR}/packaging/licences)
set(_from_debian
    "curl.txt=${TESSEL_WINDOWS_DEPS_PREFIX}/../COPYING"
    "gcc-runtime-libstdc++.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "mingw-w64-runtime-winpthreads.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright"
    "fmt.txt=/usr/share/doc/libfmt-dev/copyright"
    "nlohmann-json.txt=/usr/share/doc/nlohmann-json3-dev/copyright"
    "CLI11.txt=/usr/share/doc/libcli11-dev/copyright")
foreach(_entry IN LISTS _from_debian)
  string(REGEX REPLACE "=.*" "" _name "${_entry}")
  string(REGEX REPLACE "^[^=]*=" "" _source "${_entry}")
  if(NOT EXISTS ${_source})
    message(FATAL_ERROR "licence text ${_source} is missing: run scripts/install-deps")
  endif()
  configure_file(${_source} ${_licences}/${_name} COPYONLY)
endforeach()

install(TARGETS tessel-installer RUNTIME DESTINATION . COMPONENT program)
install(FILES README.md LICENSE DESTINATION . COMPONENT program)
install(DIRECTORY ${_licences}/ DESTINATION licences COMPONENT program)

set(TESSEL_CPACK_GENERATOR "ZIP" CACHE STRING "CPack generators of this build")
set(CPACK_GENERATOR ${TESSEL_CPACK_GENERATOR})
set(CPACK_PACKAGE_NAME tessel-installer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "tessel-installer-${PROJECT_VERSION}-win64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES OFF)  # the windows preset links the program stripped
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/packages)
include(CPack)
