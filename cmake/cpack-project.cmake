# Read by cpack before it packages: a build that links the converter
# statically makes no Linux package, and says which build does.
if(CPACK_FWPACK_STATIC_LINK)
  message(FATAL_ERROR
    "this build links fwpack statically (FWPACK_STATIC_LINK=ON), but its Linux packages "
    "link it dynamically: make them with the release preset, "
    "'cmake --workflow --preset release' (into out/build/release/packages/)")
endif()
