# The installed fwpack package: the converter as the imported program
# fwpack::fwpack, and fwpack_add_dfu, which adds its conversion to a build.
include("${CMAKE_CURRENT_LIST_DIR}/fwpackTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/fwpackAddDfu.cmake")
