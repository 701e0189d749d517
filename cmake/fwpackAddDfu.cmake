# fwpack_add_dfu: a build step that turns a firmware image (.hex, .srec) into
# a DfuSe file with fwpack::fwpack, run again whenever the image changes.
#
#   fwpack_add_dfu(<target> INPUT <file> [OUTPUT <file>] [DEVICE VID:PID]
#                  [RELEASE BCD] [ALT N] [NAME text])
#
# <target> is a new target, built by default, that stands for the DfuSe file.
# A relative INPUT is taken in the current source directory, or in the current
# binary directory when the source directory has no such file (an image that
# the build makes, such as objcopy's output). A relative OUTPUT lies in the
# current binary directory; without OUTPUT the file takes the name fwpack
# derives from the input (app.hex -> app.dfu) in the current binary directory.
# DEVICE, RELEASE, ALT and NAME pass through to fwpack's -d, -r, -a and -n.

function(fwpack_add_dfu target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "INPUT;OUTPUT;DEVICE;RELEASE;ALT;NAME" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): no value for ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT DEFINED arg_INPUT)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): INPUT is required")
  endif()

  get_filename_component(input "${arg_INPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_ABSOLUTE "${arg_INPUT}" AND NOT EXISTS "${input}")
    get_filename_component(input "${arg_INPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  endif()

  if(DEFINED arg_OUTPUT)
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  else()
    get_filename_component(stem "${input}" NAME_WE)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${stem}.dfu")
  endif()
  # fwpack names its output itself: the first "." of the file name and what
  # follows become ".dfu". Any other name would never appear, and the step
  # would run at every build.
  get_filename_component(output_dir "${output}" DIRECTORY)
  get_filename_component(output_stem "${output}" NAME_WE)
  if(NOT output STREQUAL "${output_dir}/${output_stem}.dfu")
    message(FATAL_ERROR "fwpack_add_dfu(${target}): OUTPUT ${arg_OUTPUT} must end in .dfu "
                        "and have no other \".\" in its file name, as fwpack names its output")
  endif()

  # fwpack creates no directories.
  file(MAKE_DIRECTORY "${output_dir}")

  set(options "")
  if(DEFINED arg_DEVICE)
    list(APPEND options -d "${arg_DEVICE}")
  endif()
  if(DEFINED arg_RELEASE)
    list(APPEND options -r "${arg_RELEASE}")
  endif()
  if(DEFINED arg_ALT)
    list(APPEND options -a "${arg_ALT}")
  endif()
  if(DEFINED arg_NAME)
    list(APPEND options -n "${arg_NAME}")
  endif()
  # Without options the step runs fwpack's plain form, which every version
  # of fwpack understands. Both paths are absolute, so neither can pass for an
  # option.
  if(NOT options STREQUAL "")
    list(APPEND options --)
  endif()

  get_filename_component(shown_input "${input}" NAME)
  file(RELATIVE_PATH shown_output "${CMAKE_BINARY_DIR}" "${output}")
  add_custom_command(OUTPUT "${output}"
    COMMAND "$<TARGET_FILE:fwpack::fwpack>" ${options} "${input}" "${output}"
    DEPENDS "${input}" "$<TARGET_FILE:fwpack::fwpack>"
    COMMENT "fwpack: ${shown_input} -> ${shown_output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
