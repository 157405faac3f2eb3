# Writes help2man's include file: the hand-written sections, then one sub-section per action made
# from that action's own --help, so the page documents exactly what the built program accepts.
#
#   cmake -DPROGRAM=path -DHAND_WRITTEN=file -DOUTPUT=file -P GenerateManInclude.cmake
#
# The help layout read here is the program's own: a usage paragraph, a description paragraph, and
# an "options:" section whose entries start at column 2, with the help text beside the label or on
# the following lines, indented.
cmake_minimum_required(VERSION 3.25)

foreach(var PROGRAM HAND_WRITTEN OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "GenerateManInclude.cmake needs -D${var}=...")
  endif()
endforeach()

# CMake splits lists at ';' except inside square brackets, and the help is full of brackets: all
# three are swapped for control characters while the text is handled as a list of lines.
string(ASCII 1 LB)
string(ASCII 2 RB)
string(ASCII 3 SEMI)

function(_help out)
  execute_process(COMMAND "${PROGRAM}" ${ARGN} --help
                  OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "'${PROGRAM} ${ARGN} --help' failed (${status}): ${err}")
  endif()
  string(REPLACE "[" "${LB}" text "${text}")
  string(REPLACE "]" "${RB}" text "${text}")
  string(REPLACE ";" "${SEMI}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Running text for roff: backslashes written as \e, a dot or apostrophe that would start a line
# guarded, option names with minus signs instead of hyphens.
function(_roff_text out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^| )--([A-Za-z])" "\\1@MINUS@@MINUS@\\2" text "${text}")
  string(REGEX REPLACE "(^| )-([A-Za-z])" "\\1@MINUS@\\2" text "${text}")
  string(REPLACE "@MINUS@" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# An option label or usage line: option names bold, value names italic, the rest roman, and no
# word hyphenated at a line break (a hyphen added to an option name would mislead).
function(_roff_synopsis out text)
  string(REGEX REPLACE "([ ${LB}]|^)(-[-A-Za-z0-9]*[A-Za-z0-9])" "\\1@B@\\2@R@" text "${text}")
  string(REGEX REPLACE "([ ${LB}]|^)([A-Z][A-Z_]*)" "\\1@I@\\2@R@" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REPLACE "@B@" "\\fB" text "${text}")
  string(REPLACE "@I@" "\\fI" text "${text}")
  string(REPLACE "@R@" "\\fR" text "${text}")
  string(REPLACE " " " \\%" text "\\%${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Appends one option entry, a tagged paragraph, to the roff in `var`.
function(_add_entry var label help)
  if(NOT label STREQUAL "")
    _roff_text(help "${help}")
    set(${var} "${${var}}.TP\n${label}\n${help}\n" PARENT_SCOPE)
  endif()
endfunction()

function(_restore out text)
  string(REPLACE "${LB}" "[" text "${text}")
  string(REPLACE "${RB}" "]" text "${text}")
  string(REPLACE "${SEMI}" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The names of the actions, as the top-level help lists them under "action:".
_help(top)
set(actions "")
set(in_actions FALSE)
foreach(line IN LISTS top)
  if(line STREQUAL "action:")
    set(in_actions TRUE)
  elseif(in_actions AND line MATCHES "^  ([a-z][-a-z]*)( |$)")
    list(APPEND actions "${CMAKE_MATCH_1}")
  elseif(in_actions AND NOT line MATCHES "^ ")
    set(in_actions FALSE)
  endif()
endforeach()
if(NOT actions)
  message(FATAL_ERROR "no actions found in the help of ${PROGRAM}")
endif()

set(roff "[ACTION OPTIONS]\n")
foreach(action IN LISTS actions)
  _help(lines ${action})
  set(usage "")
  set(description "")
  set(entries "")       # roff of the finished option entries, in order
  set(label "")         # the entry being read: its label and help text so far
  set(help "")
  set(part usage)
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      if(part STREQUAL "usage")
        set(part description)
      endif()
      continue()
    endif()
    if(part STREQUAL "usage")
      string(STRIP "${line}" line)
      string(APPEND usage " ${line}")
    elseif(line STREQUAL "options:")
      set(part options)
    elseif(part STREQUAL "description")
      string(APPEND description " ${line}")
    elseif(part STREQUAL "options" AND line MATCHES "^  ([^ ]+( [^ ]+)*)(  +(.*))?$")
      _add_entry(entries "${label}" "${help}")
      set(help "${CMAKE_MATCH_4}")
      _roff_synopsis(label "${CMAKE_MATCH_1}")
    elseif(part STREQUAL "options" AND line MATCHES "^ +([^ ].*)$")
      # The help text continues, or starts on the line below a long label.
      string(STRIP "${help} ${CMAKE_MATCH_1}" help)
    endif()
  endforeach()
  _add_entry(entries "${label}" "${help}")
  string(STRIP "${usage}" usage)
  if(NOT usage MATCHES "^usage: [^ ]+ ${action}( (.*))?$")
    message(FATAL_ERROR "unexpected usage line of '${action}': ${usage}")
  endif()
  _roff_synopsis(usage "${CMAKE_MATCH_2}")
  string(STRIP "${description}" description)
  _roff_text(description "${description}")
  string(REPLACE "-" "\\-" name "${action}")
  # help2man reads a line that starts with "[" and ends with "]" as a section heading.
  string(APPEND roff ".SS ${name}\n.B tessel\\-installer ${name}\n\\&${usage}\n.PP\n"
         "${description}\n${entries}")
endforeach()
_restore(roff "${roff}")

file(READ "${HAND_WRITTEN}" hand_written)
file(WRITE "${OUTPUT}.tmp" "${hand_written}\n${roff}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
