# Renders the manual page PAGE as HTML into OUTPUT with GROFF. Run as a script
# (cmake -P) so that the build needs no shell to redirect groff's output; a
# failed run leaves no OUTPUT behind.
execute_process(COMMAND "${GROFF}" -man -Thtml "${PAGE}"
                OUTPUT_FILE "${OUTPUT}.part"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.part")
  message(FATAL_ERROR "groff could not render ${PAGE}: ${result}")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
