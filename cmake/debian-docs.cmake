# The documents a Debian package carries besides its own, made at configure
# time from the project's: the license as a machine-readable copyright file,
# CHANGELOG.md as a Debian changelog, and both that and the manual pages
# compressed as Debian's policy asks.

find_program(FWPACK_GZIP gzip)

# Compresses <file> into <file>.gz and names that in <result>, or names <file>
# itself where there is no gzip. -n keeps the file's name and time out, so that
# the package builds the same from the same sources.
function(fwpack_gzip file result)
  set(${result} "${file}" PARENT_SCOPE)
  if(NOT FWPACK_GZIP)
    return()
  endif()
  execute_process(COMMAND ${FWPACK_GZIP} -9 -n -c "${file}" OUTPUT_FILE "${file}.gz" RESULT_VARIABLE status)
  if(status EQUAL 0)
    set(${result} "${file}.gz" PARENT_SCOPE)
  else()
    message(WARNING "gzip failed on ${file}: it is installed uncompressed")
  endif()
endfunction()

# The MIT license text of <license>, after its title and copyright line, under a
# copyright header in the format of copyright-format/1.0.
function(fwpack_debian_copyright license package output)
  file(READ "${license}" text)
  if(NOT text MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "${license}: no \"Copyright (c) ...\" line followed by the license text")
  endif()
  set(holders "${CMAKE_MATCH_1}")
  # Continuation lines start with a space; an empty line is written " .".
  string(REPLACE "\n\n" "\n.\n" body "${CMAKE_MATCH_2}")
  string(REPLACE "\n" "\n " body " ${body}")
  file(WRITE "${output}"
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: ${package}\n\n"
    "Files: *\n"
    "Copyright: ${holders}\n"
    "License: Expat\n"
    "${body}\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${license}")
endfunction()

# An ISO date and a time of day in UTC as a Debian changelog writes them, with
# the day of the week.
function(fwpack_rfc2822_date iso time result)
  string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" valid "${iso}")
  if(NOT valid)
    message(FATAL_ERROR "not a date of the form YYYY-MM-DD: ${iso}")
  endif()
  math(EXPR year "${CMAKE_MATCH_1}")
  math(EXPR month "${CMAKE_MATCH_2}")
  set(day "${CMAKE_MATCH_3}")
  # Sakamoto's method: the month offsets of a year that starts in March.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET offsets ${index} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${index} month_name)
  set(${result} "${weekday_name}, ${day} ${month_name} ${year} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

# <markdown>'s "## VERSION (YYYY-MM-DD HH:MM UTC)" sections and their "- " items as a
# Debian changelog, newest first as there, lines wrapped at 78 columns. A first
# section "## Unreleased" gathers changes for the next version: it belongs to no
# package yet and is left out.
function(fwpack_debian_changelog markdown package maintainer output)
  file(READ "${markdown}" text)
  # A list of lines: semicolons in the text would split them, so they stand
  # aside as a control character, one column wide as they are.
  string(ASCII 31 semicolon)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "`" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(changelog "")
  set(item "")
  set(trailer "")
  set(unreleased FALSE)
  # A blank line closes the item before it; so does the end.
  list(APPEND lines "" "## end")
  foreach(line IN LISTS lines)
    if(line MATCHES "^- (.*)" OR line MATCHES "^## " OR line STREQUAL "")
      if(NOT item STREQUAL "" AND NOT unreleased)
        _fwpack_wrap_item("${item}" wrapped)
        string(APPEND changelog "${wrapped}")
      endif()
      set(item "")
    endif()
    if(line STREQUAL "## Unreleased" AND changelog STREQUAL "" AND trailer STREQUAL "")
      set(unreleased TRUE)
    elseif(line MATCHES "^## ([^ ]+) \\(([0-9-]+) ([0-9][0-9]:[0-9][0-9]) UTC\\)$")
      set(unreleased FALSE)
      string(APPEND changelog "${trailer}${package} (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
      fwpack_rfc2822_date("${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" date)
      set(trailer "\n -- ${maintainer}  ${date}\n\n")
    elseif(line STREQUAL "## end")
      string(APPEND changelog "${trailer}")
    elseif(line MATCHES "^## ")
      message(FATAL_ERROR "${markdown}: a version's heading is \"## VERSION (YYYY-MM-DD HH:MM UTC)\": ${line}")
    elseif(line MATCHES "^- (.*)")
      set(item "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^ +(.*)" AND NOT item STREQUAL "")
      string(APPEND item " ${CMAKE_MATCH_1}")
    endif()
  endforeach()
  string(REPLACE "${semicolon}" ";" changelog "${changelog}")
  string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
  file(WRITE "${output}" "${changelog}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${markdown}")
endfunction()

function(_fwpack_wrap_item item result)
  string(REPLACE " " ";" words "${item}")
  set(text "")
  set(line "  *")
  foreach(word IN LISTS words)
    string(LENGTH "${line} ${word}" width)
    if(width GREATER 78 AND NOT line STREQUAL "   ")
      string(APPEND text "${line}\n")
      set(line "   ")
    endif()
    string(APPEND line " ${word}")
  endforeach()
  set(${result} "${text}${line}\n" PARENT_SCOPE)
endfunction()
