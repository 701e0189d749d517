# What `cmake --install` puts where, and the packages CPack makes of it: a
# .deb and a .tar.gz on Linux, a .zip for Windows. They hold the two programs,
# their manual pages, the README, license and changelog, and the CMake package
# through which firmware builds find fwpack. The converter's library and the
# tests stay in the build tree.
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

set(CPACK_PACKAGE_NAME fwpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The fwpack developers")
set(CPACK_PACKAGE_CONTACT "The fwpack developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware image to DfuSe file converter, and an environment launcher")
# Lines short enough for a Debian package's long description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "fwpack turns a firmware image in a Motorola S-record or Intel HEX file into"
  "a DfuSe file, the container in which firmware is handed to USB devices that"
  "are upgraded through the DFU protocol. A CMake package adds the conversion"
  "to firmware builds."
  ""
  "envlaunch records four environment variables in env_vars.txt beside itself"
  "and starts the companion program qxini_core.exe from its own directory.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB TGZ)
else()
  set(CPACK_GENERATOR TGZ)
endif()

# fwpack_1.1.0_amd64.deb, with the libraries it needs found by dpkg-shlibdeps.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

include(CPack)
