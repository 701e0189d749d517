# fwpack_add_dfu: a build step that converts firmware images with
# fwpack::fwpack into a DfuSe file (or an Intel HEX or S-record file), run
# again whenever an input changes.
#
#   fwpack_add_dfu(<target>
#                  EXECUTABLE <firmware target> | INPUTS <file>... | INPUT <file>
#                  [INPUTS <file>...] [BASE <address>...] [ALT <n>] [NAME <text>]
#                  [DEVICE <vid>:<pid>] [RELEASE <bcd>] [FORMAT dfu|hex|srec]
#                  [OUTPUT <file>]
#                  [TARGET EXECUTABLE <firmware target> | INPUTS <file>...
#                          [BASE <address>...] [ALT <n>] [NAME <text>]]...)
#
# <target> is a new target, built by default, that stands for the output.
# EXECUTABLE names the firmware's own CMake target: its ELF file, whatever its
# suffix, is the DfuSe target's own image (fwpack's -I elf), and the step runs
# again whenever the firmware is linked again. INPUTS are images of the file's
# first DfuSe target: the first is its own (when no EXECUTABLE is), the others
# are added to it (fwpack's --add). BASE gives the load addresses
# of the .bin inputs, the first to the first (-b). ALT and NAME are the
# target's alternate setting and name (-a, -n). Each TARGET opens one more
# DfuSe target (--target) with inputs and settings of its own; the file's
# settings DEVICE, RELEASE, FORMAT and OUTPUT come before the first TARGET.
# DEVICE and RELEASE set the DFU suffix (-d, -r), FORMAT the output's format
# (-f; hex and srec write one target).
#
# A relative input is taken in the current source directory, or in the current
# binary directory when the source directory has no such file (an image that
# the build makes). A relative OUTPUT lies in the current binary directory and
# is named exactly (fwpack's -o); without OUTPUT the file takes the name of
# the first input up to its first "." (app.hex -> app.dfu, or app.srec with
# FORMAT srec), or of the EXECUTABLE target (firmware -> firmware.dfu), in the
# current binary directory.

# Appends fwpack's option FLAG and the value of VARIABLE to the list OPTIONS
# when VARIABLE is set.
macro(_fwpack_option options flag variable)
  if(DEFINED ${variable})
    list(APPEND ${options} ${flag} "${${variable}}")
  endif()
endmacro()

function(fwpack_add_dfu target)
  # One group of arguments for the file and its first target, then one per
  # TARGET.
  set(group_count 1)
  set(group_0 "")
  foreach(argument IN LISTS ARGN)
    if(argument STREQUAL "TARGET")
      set(group_${group_count} "")
      math(EXPR group_count "${group_count} + 1")
    else()
      math(EXPR last "${group_count} - 1")
      list(APPEND group_${last} "${argument}")
    endif()
  endforeach()

  cmake_parse_arguments(file "" "DEVICE;RELEASE;FORMAT;OUTPUT" "" ${group_0})
  if(file_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): no value for ${file_KEYWORDS_MISSING_VALUES}")
  endif()
  set(options "")
  _fwpack_option(options -d file_DEVICE)
  _fwpack_option(options -r file_RELEASE)
  set(format dfu)
  if(DEFINED file_FORMAT)
    if(NOT file_FORMAT MATCHES "^(dfu|hex|srec)$")
      message(FATAL_ERROR "fwpack_add_dfu(${target}): FORMAT is dfu, hex or srec, not ${file_FORMAT}")
    endif()
    if(NOT file_FORMAT STREQUAL "dfu" AND group_count GREATER 1)
      message(FATAL_ERROR "fwpack_add_dfu(${target}): FORMAT ${file_FORMAT} writes one target; TARGET asks for more")
    endif()
    set(format ${file_FORMAT})
    list(APPEND options -f ${format})
  endif()

  # Each target's settings apply to the target opened last, so they follow
  # its --target; the first target's own input goes last, after "--".
  set(all_inputs "")
  set(all_depends "")
  set(reads_elf FALSE)
  math(EXPR last "${group_count} - 1")
  foreach(index RANGE ${last})
    _fwpack_dfu_target(${target} ${index} "${file_UNPARSED_ARGUMENTS}" "${group_${index}}" inputs target_options
                       depends executable)
    list(APPEND all_inputs ${inputs})
    list(APPEND all_depends ${depends})
    if(NOT executable STREQUAL "")
      set(reads_elf TRUE)
    endif()
    list(GET inputs 0 own_input)
    if(index EQUAL 0)
      set(first_input "${own_input}")
      set(first_executable "${executable}")
    else()
      list(APPEND options --target "${own_input}")
    endif()
    list(APPEND options ${target_options})
    list(LENGTH inputs input_count)
    if(input_count GREATER 1)
      list(SUBLIST inputs 1 -1 added)
      foreach(input IN LISTS added)
        list(APPEND options --add "${input}")
      endforeach()
    endif()
  endforeach()

  if(reads_elf)
    # The linker's file may have any suffix, or none.
    list(APPEND options -I elf)
  endif()
  _fwpack_dfu_output(${target} "${first_input}" "${first_executable}" ${format} "${file_OUTPUT}" output exact)
  if(exact)
    list(APPEND options -o "${output}")
  endif()
  if(output IN_LIST all_inputs)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): the output ${output} would overwrite an input")
  endif()
  get_filename_component(output_dir "${output}" DIRECTORY)
  # fwpack creates no directories.
  file(MAKE_DIRECTORY "${output_dir}")

  # Without options the step runs fwpack's plain form, which every version
  # of fwpack understands. All paths are absolute, so none can pass for an
  # option.
  if(NOT options STREQUAL "")
    list(APPEND options --)
  endif()

  set(shown_inputs "")
  foreach(input IN LISTS all_inputs)
    if(input MATCHES "^\\$<TARGET_FILE:(.*)>$")
      set(name "${CMAKE_MATCH_1}")
    else()
      get_filename_component(name "${input}" NAME)
    endif()
    list(APPEND shown_inputs "${name}")
  endforeach()
  list(JOIN shown_inputs ", " shown_inputs)
  file(RELATIVE_PATH shown_output "${CMAKE_BINARY_DIR}" "${output}")
  set(positional_output "${output}")
  if(exact)
    set(positional_output "")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "$<TARGET_FILE:fwpack::fwpack>" ${options} "${first_input}" ${positional_output}
    DEPENDS ${all_depends} "$<TARGET_FILE:fwpack::fwpack>"
    COMMENT "fwpack: ${shown_inputs} -> ${shown_output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()

# One DfuSe target's arguments: its inputs as absolute paths, and the options
# -a, -n and -b that fwpack takes for it. <unparsed> are the first group's
# arguments that are not the file's.
function(_fwpack_dfu_target target index unparsed group inputs_var options_var depends_var executable_var)
  if(index EQUAL 0)
    set(arguments ${unparsed})
    set(where "")
  else()
    set(arguments ${group})
    set(where " in TARGET ${index}")
  endif()
  # The file's keywords are known here too, so that they end a list of inputs.
  cmake_parse_arguments(arg "" "INPUT;EXECUTABLE;ALT;NAME;DEVICE;RELEASE;FORMAT;OUTPUT" "INPUTS;BASE" ${arguments})
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): unknown arguments${where}: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(keyword DEVICE RELEASE FORMAT OUTPUT)
    if(DEFINED arg_${keyword})
      message(FATAL_ERROR "fwpack_add_dfu(${target}): ${keyword}${where}: "
                          "DEVICE, RELEASE, FORMAT and OUTPUT come before the first TARGET")
    endif()
  endforeach()
  if(arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): no value for ${arg_KEYWORDS_MISSING_VALUES}${where}")
  endif()
  if(DEFINED arg_INPUT AND DEFINED arg_INPUTS)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): INPUT and INPUTS both given${where}")
  endif()
  set(given ${arg_INPUT} ${arg_INPUTS})
  list(LENGTH given given_count)
  if(given_count EQUAL 0 AND NOT DEFINED arg_EXECUTABLE)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): INPUTS or EXECUTABLE is required${where}")
  endif()

  set(inputs "")
  set(depends "")
  if(DEFINED arg_EXECUTABLE)
    if(NOT TARGET "${arg_EXECUTABLE}")
      message(FATAL_ERROR "fwpack_add_dfu(${target}): EXECUTABLE ${arg_EXECUTABLE}${where} is no target")
    endif()
    list(APPEND inputs "$<TARGET_FILE:${arg_EXECUTABLE}>")
    list(APPEND depends "${arg_EXECUTABLE}")
  endif()
  set(bin_count 0)
  foreach(given_input IN LISTS given)
    get_filename_component(input "${given_input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT IS_ABSOLUTE "${given_input}" AND NOT EXISTS "${input}")
      get_filename_component(input "${given_input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    list(APPEND inputs "${input}")
    list(APPEND depends "${input}")
    if(input MATCHES "\\.[bB][iI][nN]$")
      math(EXPR bin_count "${bin_count} + 1")
    endif()
  endforeach()
  list(LENGTH arg_BASE base_count)
  if(NOT base_count EQUAL bin_count)
    message(FATAL_ERROR "fwpack_add_dfu(${target}): ${bin_count} .bin inputs but ${base_count} BASE addresses${where}; "
                        "each .bin input takes one, in order")
  endif()

  set(options "")
  _fwpack_option(options -a arg_ALT)
  _fwpack_option(options -n arg_NAME)
  foreach(base IN LISTS arg_BASE)
    list(APPEND options -b "${base}")
  endforeach()
  set(${inputs_var} "${inputs}" PARENT_SCOPE)
  set(${options_var} "${options}" PARENT_SCOPE)
  set(${depends_var} "${depends}" PARENT_SCOPE)
  set(${executable_var} "${arg_EXECUTABLE}" PARENT_SCOPE)
endfunction()

# The output's absolute path, and whether fwpack is to be given it exactly
# (-o). Without OUTPUT, the name that fwpack derives from the first input: its
# file name up to the first ".", followed by the format's extension; or the
# name of the EXECUTABLE target, whose file name is not known here.
function(_fwpack_dfu_output target first_input executable format given result exact_var)
  set(exact TRUE)
  if(NOT given STREQUAL "")
    get_filename_component(output "${given}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  elseif(NOT executable STREQUAL "")
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${executable}.${format}")
  else()
    get_filename_component(stem "${first_input}" NAME_WE)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${stem}.${format}")
    set(exact FALSE)
  endif()
  set(${result} "${output}" PARENT_SCOPE)
  set(${exact_var} ${exact} PARENT_SCOPE)
endfunction()
