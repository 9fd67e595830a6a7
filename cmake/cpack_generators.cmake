# Read by CPack for each generator: the archive holds the "archive" component in one
# folder, the Debian package the "debian" component at its places from the root.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_ORVANE_BUILD_DIR};orvanegate;debian;/")
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  # CPack writes no Built-Using field: cmake/debian_built_using.cmake adds it.
  set(CPACK_POST_BUILD_SCRIPTS "${CPACK_ORVANE_BUILT_USING_SCRIPT}")
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_ORVANE_BUILD_DIR};orvanegate;archive;/")
endif()
