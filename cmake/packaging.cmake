# What `cmake --install` puts where, and the packages CPack makes of it: a
# .deb and a .tar.gz on Linux, a .zip for Windows. They hold the two programs,
# their manual pages, the README, license and changelog, the CMake package
# through which firmware builds find fwpack, and on Linux the completion of
# fwpack's command line in bash. The converter's library, with its headers,
# is installed by `cmake --install` as a component of its own, which the
# packages leave out; the tests stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/debian-docs.cmake)

# The packages' maintainer, whom the Debian changelog names too; a
# distribution names its own.
set(FWPACK_MAINTAINER "The fwpack developers <maintainers@users.noreply.c-seed-3e7415a0.example>"
    CACHE STRING "Maintainer of the packages, as \"Name <address>\"")

if(WIN32)
  # A Windows zip opens with the README and the license; the manual pages,
  # rendered as HTML, lie in doc/.
  set(FWPACK_INSTALL_DOCDIR .)
  set(FWPACK_INSTALL_MANUALDIR doc)
  install(TARGETS envlaunch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${FWPACK_INSTALL_DOCDIR})
else()
  set(FWPACK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/fwpack)
  # The launcher writes beside itself, so it stays off the PATH: it is copied
  # beside its companion, and run in a directory of the system it would write
  # a file that no package owns.
  set(FWPACK_INSTALL_LAUNCHERDIR lib/fwpack CACHE STRING
      "Where the launcher is installed, below the prefix, to be copied beside its companion")
  install(TARGETS envlaunch RUNTIME DESTINATION ${FWPACK_INSTALL_LAUNCHERDIR})
  # The license lies in the copyright file, as Debian keeps it, and the
  # changelog once more in Debian's form.
  set(debian_docs ${PROJECT_BINARY_DIR}/debian-docs)
  fwpack_debian_copyright(${PROJECT_SOURCE_DIR}/LICENSE fwpack ${debian_docs}/copyright)
  fwpack_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md fwpack "${FWPACK_MAINTAINER}" ${debian_docs}/changelog)
  fwpack_gzip(${debian_docs}/changelog changelog)
  install(FILES README.md CHANGELOG.md ${debian_docs}/copyright ${changelog}
          DESTINATION ${FWPACK_INSTALL_DOCDIR})
  # bash-completion loads a command's completion from this directory when the
  # command is first completed.
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(completions bash-completion completionsdir)
    pkg_get_variable(completions_prefix bash-completion prefix)
  endif()
  # Below the prefix, so that it follows --prefix and the packages' /usr.
  if(completions AND completions_prefix AND completions MATCHES "^${completions_prefix}/(.+)")
    set(completions ${CMAKE_MATCH_1})
  else()
    set(completions ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
  endif()
  set(FWPACK_INSTALL_BASH_COMPLETIONDIR ${completions} CACHE STRING
      "Where bash's completion of fwpack is installed, below the prefix")
  install(FILES completion/fwpack.bash DESTINATION ${FWPACK_INSTALL_BASH_COMPLETIONDIR} RENAME fwpack)
endif()
set(FWPACK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/fwpack)

install(TARGETS fwpack EXPORT fwpackTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
add_subdirectory(man)

install(EXPORT fwpackTargets NAMESPACE fwpack:: DESTINATION ${FWPACK_INSTALL_CMAKEDIR})

# The library: one static library per layer below the command line, their
# headers by layer below include/fwpack, and fwpack::library, which links them.
install(TARGETS ${FWPACK_LIBRARY_TARGETS} EXPORT fwpackLibraryTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
install(DIRECTORY fwpack/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fwpack COMPONENT library
        FILES_MATCHING PATTERN "*.h" PATTERN app EXCLUDE)
install(EXPORT fwpackLibraryTargets NAMESPACE fwpack:: DESTINATION ${FWPACK_INSTALL_CMAKEDIR} COMPONENT library)
# The package holds a program, which serves builds for any target machine.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/fwpackConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/fwpackConfig.cmake cmake/fwpackAddDfu.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/fwpackConfigVersion.cmake
        DESTINATION ${FWPACK_INSTALL_CMAKEDIR})

set(CPACK_PACKAGE_NAME fwpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The fwpack developers")
set(CPACK_PACKAGE_CONTACT "${FWPACK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware image converter for DfuSe files, and an environment launcher")
# Lines short enough for a Debian package's long description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "fwpack reads firmware images from ELF files straight from the linker,"
  "Intel HEX, Motorola S-record, raw binary and DfuSe files and writes them"
  "as DfuSe files, the container in which firmware is handed to USB devices"
  "that are upgraded through the DFU protocol, or as Intel HEX or S-records."
  "It merges several inputs into one target or into several targets, sets the"
  "device's identity, checks an image against the device's memory, and lists"
  "and checks what a file holds. A CMake package adds the conversion to"
  "firmware builds; bash completes its command line."
  ""
  "envlaunch records four environment variables in env_vars.txt beside itself"
  "and starts the companion program qxini_core.exe from its own directory. It"
  "is installed in /usr/lib/fwpack, to be copied beside that program.")
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

# fwpack_1.2.0_amd64.deb, with the libraries it needs found by dpkg-shlibdeps.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The packages hold the programs and what serves them; the library is for
# builds from the sources.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

# The Linux packages hold the converter linked dynamically, as the release
# preset builds it, so that the system's library updates reach it and the
# package depends on them. A build that links it statically makes no package
# rather than a different one of the same name.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND FWPACK_STATIC_LINK)
  set(CPACK_FWPACK_STATIC_LINK ON)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-project.cmake)

include(CPack)
