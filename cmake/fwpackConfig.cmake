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
# The library (C++) comes along for a C++ project wherever it was installed
# and its dependencies are found; a firmware build for another machine still
# gets the program alone. Asked for as the component "library", it must be there.
set(fwpack_library_FOUND FALSE)
get_property(_fwpack_languages GLOBAL PROPERTY ENABLED_LANGUAGES)
if("CXX" IN_LIST _fwpack_languages AND EXISTS "${CMAKE_CURRENT_LIST_DIR}/fwpackLibraryTargets.cmake")
  find_package(ZLIB QUIET)
  find_package(Threads QUIET)
  if(ZLIB_FOUND AND Threads_FOUND)
    include("${CMAKE_CURRENT_LIST_DIR}/fwpackLibraryTargets.cmake")
    set(fwpack_library_FOUND TRUE)
  endif()
endif()
if("library" IN_LIST fwpack_FIND_COMPONENTS AND NOT fwpack_library_FOUND)
  set(fwpack_FOUND FALSE)
  set(fwpack_NOT_FOUND_MESSAGE "the fwpack library is not installed beside this package, or zlib or the system's "
                               "threads are not found: cmake --install of a build from the sources installs it")
endif()
