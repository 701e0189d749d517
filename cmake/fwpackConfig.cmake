# The installed fwpack package: the converter as the imported program
# fwpack::fwpack, and fwpack_add_dfu, which adds its conversion to a build;
# where the library was installed too (cmake --install, not the packages),
# the library fwpack::library.
# The project's minimum, which the package shares.
if(CMAKE_VERSION VERSION_LESS 3.25)
  set(fwpack_FOUND FALSE)
  set(fwpack_NOT_FOUND_MESSAGE "fwpack's CMake package needs CMake 3.25 or later; this is ${CMAKE_VERSION}")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/fwpackTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/fwpackAddDfu.cmake")
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/fwpackLibraryTargets.cmake")
  include(CMakeFindDependencyMacro)
  find_dependency(ZLIB)
  find_dependency(Threads)
  include("${CMAKE_CURRENT_LIST_DIR}/fwpackLibraryTargets.cmake")
endif()
