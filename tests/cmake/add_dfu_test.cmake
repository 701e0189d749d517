# Test of fwpack_add_dfu, run as a script: for each row of a table it
# configures a small project that calls the function, and expects either a
# configure error that says what is wrong, or a build whose output fwpack's
# --info lists as given.
#   cmake -DFWPACK=<fwpack> -DMODULE=<fwpackAddDfu.cmake> -DIMAGE=<firmware.hex>
#         -DELF=<a linked firmware ELF file> -DWORK=<scratch directory> -P add_dfu_test.cmake

# Each row: the function's arguments after its target, "=>", then "error:"
# and a piece of the message, or "info:" and a line of --info on the output
# (a path in the build directory) that starts so. firmware.hex holds 3
# elements from 0x08000000, 2336 bytes; app.bin is the 16 bytes
# "application 1.0\n"; the imported executable target fw is the ELF file,
# named without a suffix, which loads 72 bytes at 0x08000000.
set(rows
  [[NAME x => error: INPUTS or EXECUTABLE is required]]
  [[EXECUTABLE nothing => error: EXECUTABLE nothing is no target]]
  [[EXECUTABLE fw DEVICE 1209:5af0 => fw.dfu info: target 0: alternate setting 0, name "ST...", 1 element, 72 bytes]]
  [[EXECUTABLE fw INPUTS app.bin BASE 0x08004000 OUTPUT out/app-v1.2.3.dfu => out/app-v1.2.3.dfu info:   element 1: 0x08004000-0x0800400F, 16 bytes]]
  [[INPUTS a.hex TARGET EXECUTABLE fw ALT 3 => a.dfu info: target 1: alternate setting 3, name "ST...", 1 element, 72 bytes]]
  [[INPUTS app.bin => error: 1 .bin inputs but 0 BASE addresses]]
  [[INPUTS a.hex BASE 0x0 => error: 0 .bin inputs but 1 BASE addresses]]
  [[INPUT a.hex INPUTS a.hex => error: INPUT and INPUTS both given]]
  [[INPUTS a.hex FORMAT xml => error: FORMAT is dfu, hex or srec]]
  [[INPUTS a.hex FORMAT hex TARGET INPUTS a.hex => error: writes one target]]
  [[INPUTS a.hex TARGET INPUTS a.hex DEVICE 1:2 => error: come before the first TARGET]]
  [[INPUTS a.hex TARGET NAME x => error: INPUTS or EXECUTABLE is required in TARGET 1]]
  [[INPUTS a.hex OUTPUT a.v2.dfu => a.v2.dfu info: target 0: alternate setting 0, name "ST...", 3 elements, 2336 bytes]]
  [[INPUTS a.hex FORMAT hex OUTPUT ../s/a.hex => error: would overwrite an input]]
  [[INPUTS a.hex app.bin BASE 0x08004000 FORMAT srec OUTPUT out/merged.srec => out/merged.srec info: target 0: 4 elements, 2352 bytes]]
  [[INPUTS a.hex app.bin BASE 0x08004000 FORMAT srec OUTPUT out/merged.srec => out/merged.srec info:   element 2: 0x08004000-0x0800400F, 16 bytes]]
  [[INPUTS a.hex DEVICE 1209:5af0 TARGET INPUTS app.bin BASE 8004000 NAME "App 2" => a.dfu info: target 1: alternate setting 1, name "App 2", 1 element, 16 bytes, target size 24 (agrees)]]
  [[INPUTS a.hex DEVICE 1209:5af0 TARGET INPUTS app.bin BASE 8004000 NAME "App 2" => a.dfu info: suffix: vendor 0x1209, product 0x5AF0]]
)

set(failures 0)
set(index 0)
foreach(row IN LISTS rows)
  math(EXPR index "${index} + 1")
  string(REGEX MATCH "^(.*) => (.*)$" matched "${row}")
  set(arguments "${CMAKE_MATCH_1}")
  set(expected "${CMAKE_MATCH_2}")
  # The project's source directory holds a.hex; its build directory is "b"
  # beside it, where app.bin is made.
  set(dir "${WORK}/case-${index}")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}/s")
  configure_file("${IMAGE}" "${dir}/s/a.hex" COPYONLY)
  configure_file("${ELF}" "${dir}/s/fw" COPYONLY)
  file(WRITE "${dir}/s/CMakeLists.txt" "cmake_minimum_required(VERSION 3.25)
project(add_dfu_case LANGUAGES NONE)
add_executable(fwpack::fwpack IMPORTED)
set_target_properties(fwpack::fwpack PROPERTIES IMPORTED_LOCATION \"${FWPACK}\")
add_executable(fw IMPORTED)
set_target_properties(fw PROPERTIES IMPORTED_LOCATION \"${dir}/s/fw\")
include(\"${MODULE}\")
file(CONFIGURE OUTPUT app.bin CONTENT \"application 1.0\\n\")
fwpack_add_dfu(converted ${arguments})
")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${dir}/s" -B "${dir}/b"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(expected MATCHES "^error: (.*)")
    # CMake wraps its messages' lines.
    string(REGEX REPLACE "[ \n]+" " " flowing "${output}")
    string(FIND "${flowing}" "${CMAKE_MATCH_1}" found)
    if(status EQUAL 0 OR found EQUAL -1)
      message(SEND_ERROR "${arguments}: expected the error \"${CMAKE_MATCH_1}\", got:\n${output}")
      math(EXPR failures "${failures} + 1")
    endif()
    continue()
  endif()
  string(REGEX MATCH "^([^ ]+) info: (.*)$" matched "${expected}")
  set(file "${CMAKE_MATCH_1}")
  set(line "${CMAKE_MATCH_2}")
  if(status EQUAL 0)
    execute_process(COMMAND "${CMAKE_COMMAND}" --build "${dir}/b"
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  endif()
  if(status EQUAL 0)
    execute_process(COMMAND "${FWPACK}" --info "${dir}/b/${file}" OUTPUT_VARIABLE output ERROR_VARIABLE output)
  endif()
  string(FIND "${output}" "\n${line}" found)
  if(NOT status EQUAL 0 OR found EQUAL -1)
    message(SEND_ERROR "${arguments}: expected the line \"${line}\" in --info of ${file}, got:\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures EQUAL 0)
  message(STATUS "fwpack_add_dfu: ${index} cases")
endif()
