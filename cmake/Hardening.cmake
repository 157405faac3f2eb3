# Release hardening: the compiler and linker flags Debian builds its packages with
# (dpkg-buildflags with hardening=+all), and a stripped program whose debug information is kept
# in a separate file that debuggers find through its .gnu_debuglink.
option(TESSEL_HARDENING "Build with Debian's hardening flags" OFF)
option(TESSEL_SPLIT_DEBUG "Strip the program and keep its debug information in a separate file"
       OFF)

if(TESSEL_HARDENING)
  include(CheckCXXCompilerFlag)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # Fortification needs optimisation; every build type but Debug has it.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection
                      -Wformat -Werror=format-security)
  # Control-flow protection has a different flag on each architecture, and none on some.
  foreach(flag -fcf-protection -mbranch-protection=standard)
    string(MAKE_C_IDENTIFIER "TESSEL_HAS${flag}" have)
    check_cxx_compiler_flag(${flag} ${have})
    if(${have})
      add_compile_options(${flag})
      break()
    endif()
  endforeach()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

# tessel_split_debug(TARGET): after each link, moves the target's debug information into
# TARGET_FILE.debug and strips the target, which then names that file in its .gnu_debuglink.
function(tessel_split_debug target)
  if(NOT TESSEL_SPLIT_DEBUG)
    return()
  endif()
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "TESSEL_SPLIT_DEBUG needs objcopy, which was not found")
  endif()
  # The link holds the file's name only, so objcopy runs beside the file.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Keeping the debug information of ${target} in ${target}.debug, stripping ${target}"
    VERBATIM)
endfunction()
