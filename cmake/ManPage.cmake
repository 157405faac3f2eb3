# The manual page, made by help2man from the built program's own --help and --version, with the
# options of every action gathered from their --help into help2man's include file at build time.
# Making it runs the program, so a cross build, whose program cannot run here, has none.
option(TESSEL_MAN_PAGE "Generate the manual page with help2man" ON)

if(NOT TESSEL_MAN_PAGE)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  message(STATUS "Cross build: the manual page is not made")
  return()
endif()

find_program(TESSEL_HELP2MAN help2man REQUIRED)
find_program(TESSEL_GZIP gzip REQUIRED)

set(_man_dir ${CMAKE_CURRENT_BINARY_DIR}/man)

# The build-time service addresses as roff text: backslashes doubled up, minus signs for hyphens.
# Credentials in an address are shown as ****, as pip shows them.
foreach(_name PYPI_URL API_PACKAGE_PERMISSIONS)
  string(REGEX REPLACE "^(([A-Za-z][A-Za-z0-9+.-]*://)?)([^/?#@:]*):[^/?#]*@" "\\1\\3:****@"
         _text "${TESSEL_${_name}}")
  string(REGEX REPLACE "^(([A-Za-z][A-Za-z0-9+.-]*://)?)[^/?#@:]+@" "\\1****@" _text "${_text}")
  string(REPLACE "\\" "\\e" _text "${_text}")
  string(REPLACE "-" "\\-" _text "${_text}")
  set(TESSEL_MAN_${_name} "${_text}")
endforeach()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/man/tessel-installer.h2m.in
               ${_man_dir}/hand-written.h2m @ONLY)

# help2man takes the GNU headings "Usage:" and "Options:" as its cue for the synopsis and the
# option list, and "*Name*" for a section of its own; the program prints lower-case headings, so
# this stand-in, named like the program, turns them into those on the way.
file(GENERATE OUTPUT ${_man_dir}/bin/tessel-installer
     CONTENT "#!/bin/sh
text=$('$<TARGET_FILE:tessel-installer>' \"$@\") || exit
printf '%s\\n' \"$text\" |
  sed -e 's/^usage:/Usage:/' -e 's/^options:$/Options:/' -e 's/^action:$/*Actions*/'
"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                      WORLD_EXECUTE)

add_custom_command(
  OUTPUT ${_man_dir}/tessel-installer.1 ${_man_dir}/tessel-installer.1.gz
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:tessel-installer>
          -DHAND_WRITTEN=${_man_dir}/hand-written.h2m -DOUTPUT=${_man_dir}/include.h2m
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/GenerateManInclude.cmake
  COMMAND ${TESSEL_HELP2MAN} --no-info --section=1 --include=${_man_dir}/include.h2m
          --output=${_man_dir}/tessel-installer.1 ${_man_dir}/bin/tessel-installer
  # Debian installs manual pages compressed, and -n keeps the name and time out of the file.
  COMMAND ${TESSEL_GZIP} -9nkf ${_man_dir}/tessel-installer.1
  DEPENDS tessel-installer ${_man_dir}/hand-written.h2m ${_man_dir}/bin/tessel-installer
          ${CMAKE_CURRENT_SOURCE_DIR}/cmake/GenerateManInclude.cmake
  COMMENT "Making the manual page with help2man"
  VERBATIM)
add_custom_target(man-page ALL DEPENDS ${_man_dir}/tessel-installer.1.gz)

install(FILES ${_man_dir}/tessel-installer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT program)
