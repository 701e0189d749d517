# What `cmake --install` puts where: the two programs, their manual pages, the
# README, license and changelog, and the CMake package through which firmware
# builds find fwpack. The converter's library and the tests stay in the build
# tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  # A Windows zip opens with the README and the license; the manual pages,
  # rendered as HTML, lie in doc/.
  set(FWPACK_INSTALL_DOCDIR .)
  set(FWPACK_INSTALL_MANUALDIR doc)
else()
  set(FWPACK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/fwpack)
endif()
set(FWPACK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/fwpack)

install(TARGETS fwpack EXPORT fwpackTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS envlaunch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${FWPACK_INSTALL_DOCDIR})
add_subdirectory(man)

install(EXPORT fwpackTargets NAMESPACE fwpack:: DESTINATION ${FWPACK_INSTALL_CMAKEDIR})
# The package holds a program, which serves builds for any target machine.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/fwpackConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/fwpackConfig.cmake cmake/fwpackAddDfu.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/fwpackConfigVersion.cmake
        DESTINATION ${FWPACK_INSTALL_CMAKEDIR})
