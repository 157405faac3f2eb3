# Run by CPack after it made the tarball (CPACK_POST_BUILD_SCRIPTS): the tarball is made again
# with file entries only. An entry for a folder (bin/, share/ and the rest) would reset the mode and
# owner of that folder in the prefix it is unpacked into, such as a /usr/local laid out 2775
# root:staff; without one, tar creates a missing folder and leaves an existing one as it is.
foreach(_tarball IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _tarball MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  set(_tree ${CPACK_TOPLEVEL_DIRECTORY}/files-only)
  file(REMOVE_RECURSE ${_tree})
  file(MAKE_DIRECTORY ${_tree})
  execute_process(COMMAND tar -xzf ${_tarball} -C ${_tree} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE _entries LIST_DIRECTORIES false RELATIVE ${_tree} ${_tree}/*)
  list(SORT _entries)
  string(REPLACE ";" "\n" _list "${_entries}")
  file(WRITE ${_tree}.list "${_list}\n")
  execute_process(COMMAND tar --create --gzip --no-recursion --owner=0 --group=0 --numeric-owner
                          -f ${_tarball} -C ${_tree} -T ${_tree}.list
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${_tree} ${_tree}.list)
endforeach()
