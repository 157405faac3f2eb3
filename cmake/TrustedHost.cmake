# The --trusted-host entry of the index: host[:port] of TESSEL_PYPI_URL, without its path (pip
# would relax the check only for URLs under that path, not for the wheels served beside it) and
# without credentials.
function(tessel_trusted_host_of out value)
  string(REGEX REPLACE "[/?#].*$" "" host "${value}")
  string(REGEX REPLACE "^.*@" "" host "${host}")
  set(${out} "${host}" PARENT_SCOPE)
endfunction()
