# What `cmake --install` puts where (GNUInstallDirs, so CMAKE_INSTALL_PREFIX and DESTDIR work as
# usual), and the packages CPack makes of it: a Debian package and a tarball of the install tree.
#
# Three install components: "program" (the program, its manual page, completion, README, the
# JSON Schemas and the Ansible module), "licence" (LICENSE) and "debian" (the copyright file and
# changelog a Debian package carries instead of LICENSE). A plain install takes the first two; "debian" is only ever asked for by
# name, by the Debian package.

if(WIN32)
  # A zip of the program with the licences of what is linked in, instead (no manual page,
  # completion or Debian package on Windows).
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()

set(TESSEL_MAINTAINER "tessel-installer maintainers <maintainers@tessel-installer.example>")
set(_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tessel-installer)
set(_pack_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tessel-installer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES README.md DESTINATION ${_doc_dir} COMPONENT program)
install(FILES LICENSE DESTINATION ${_doc_dir} COMPONENT licence)
# For scripts and fleets: the JSON Schemas of the documents the program writes, and the Ansible
# module with its example playbook (its library/ is what ANSIBLE_LIBRARY names).
install(DIRECTORY docs/schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessel-installer/schema
        COMPONENT program FILES_MATCHING PATTERN "*.schema.json")
install(DIRECTORY contrib/ansible/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessel-installer/ansible
        COMPONENT program FILES_MATCHING PATTERN "*.py" PATTERN "*.yml"
        PATTERN "__pycache__" EXCLUDE)

# Shell completion. Completion after --package offers the names the program manages, read from
# where the program declares them, so the two lists cannot differ.
set(_constants ${CMAKE_CURRENT_SOURCE_DIR}/src/tessel_installer/constants.hpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_constants})
file(READ ${_constants} _text)
if(NOT _text MATCHES "EXPECTED_PACKAGES\\{([^}]*)\\}")
  message(FATAL_ERROR "EXPECTED_PACKAGES not found in ${_constants}")
endif()
string(REGEX MATCHALL "\"[a-z0-9][-a-z0-9]*\"" _names "${CMAKE_MATCH_1}")
string(REPLACE "\"" "" _names "${_names}")
list(JOIN _names " " TESSEL_KNOWN_PACKAGES)
configure_file(packaging/completion/tessel-installer.bash.in ${_pack_dir}/completion/tessel-installer
               @ONLY)
configure_file(packaging/completion/_tessel-installer.in ${_pack_dir}/completion/_tessel-installer
               @ONLY)
install(FILES ${_pack_dir}/completion/tessel-installer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT program)
install(FILES ${_pack_dir}/completion/_tessel-installer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT program)

# The Debian changelog's newest entry must be the version being packaged.
set(_changelog ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/changelog)
file(STRINGS ${_changelog} _first LIMIT_COUNT 1)
if(NOT _first MATCHES "^tessel-installer \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "${_changelog} starts with '${_first}', not with version ${PROJECT_VERSION}")
endif()
configure_file(packaging/debian/copyright.in ${_pack_dir}/debian/copyright @ONLY)
find_program(TESSEL_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${_pack_dir}/debian/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${_changelog} ${_pack_dir}/debian/changelog.Debian
  COMMAND ${TESSEL_GZIP} -9nf ${_pack_dir}/debian/changelog.Debian
  DEPENDS ${_changelog}
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${_pack_dir}/debian/changelog.Debian.gz)
install(FILES ${_pack_dir}/debian/copyright ${_pack_dir}/debian/changelog.Debian.gz
        DESTINATION ${_doc_dir} COMPONENT debian EXCLUDE_FROM_ALL)

# Each preset names its own generators (the release preset "DEB;TGZ").
set(TESSEL_CPACK_GENERATOR "TGZ" CACHE STRING "CPack generators of this build")
set(CPACK_GENERATOR ${TESSEL_CPACK_GENERATOR})
set(CPACK_PACKAGE_NAME tessel-installer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tessel-installer authors")
set(CPACK_PACKAGE_CONTACT "${TESSEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer for the Tessel Enterprise Python packages")
# The extended description in lines that fit an 80-column terminal in dpkg's indented layout.
set(CPACK_PACKAGE_DESCRIPTION
    "tessel-installer installs the Tessel Enterprise family of Python packages
(the base package and its add-on bundles) into the Python environment it
runs beside, with pip. It installs or upgrades them from the vendor's
package index, downloads them for offline installation and installs them
from such a folder, uninstalls them, lists what is on offer, and checks
whether the machine meets the requirements.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES OFF)  # the release build strips the program itself, keeping its debug file
string(TOLOWER "tessel-installer-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}"
       TESSEL_ARCHIVE_NAME)

# One package of the chosen components each; which components is the generator's (below).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-venv, python3-pip")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(cmake/CPackProjectConfig.cmake.in ${_pack_dir}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${_pack_dir}/CPackProjectConfig.cmake)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/packages)
include(CPack)
