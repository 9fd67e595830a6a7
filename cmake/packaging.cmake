# Install rules and packages of a release, built from the release configuration:
#
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANEGATE_TESTS=OFF
#   cmake --build build-release --target package
#
# Linux: orvanegate-<version>-linux-x86_64.tar.gz (one folder: the executable, the sample
# site of every server with the script that lays it out, the README and the two guides in
# docs/) and orvanegate_<version>_amd64.deb. Windows (the MinGW build): orvanegate-<version>-
# windows-x86_64.zip with orvanegate.exe, the IIS web.config, the README and the operator's
# guide.
#
# The two Linux layouts are install components: "archive" (the default, what a plain
# `cmake --install build-release --prefix DIR` lays out) and "debian", which only the
# Debian package installs (cmake/debian.cmake).

set(CPACK_PACKAGE_NAME orvanegate)
set(CPACK_PACKAGE_VENDOR "orvanegate")
set(CPACK_PACKAGE_CONTACT "orvanegate maintainers <maintainers@orvanegate.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CGI gate of small member web sites: registration, profiles, posted images")
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS orvanegate RUNTIME DESTINATION . COMPONENT archive)
  install(FILES site/iis-web.config DESTINATION . RENAME web.config COMPONENT archive)
  install(FILES README.md DESTINATION . COMPONENT archive)
  install(FILES docs/operators-guide.md DESTINATION docs COMPONENT archive)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME orvanegate-${PROJECT_VERSION}-windows-x86_64)
  include(CPack)
  return()
endif()

# The sample site, as scripts/site-layout.sh finds it beside itself (../site); never the
# demo's run directories (site/run/), which hold members and their passwords.
function(orvane_install_samples destination component)
  install(DIRECTORY site/ DESTINATION ${destination}/site COMPONENT ${component} ${ARGN}
          PATTERN run EXCLUDE)
  install(PROGRAMS scripts/site-layout.sh DESTINATION ${destination}/scripts
          COMPONENT ${component} ${ARGN})
endfunction()

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME archive)
# install(PROGRAMS) renames but does not strip, as install(TARGETS) would.
function(orvane_install_executable destination component)
  install(PROGRAMS $<TARGET_FILE:orvanegate> DESTINATION ${destination} RENAME orvanegate.exe
          COMPONENT ${component} ${ARGN})
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded --remove-section=.comment
        --remove-section=.note \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/orvanegate.exe\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component} ${ARGN})
endfunction()
orvane_install_executable(. archive)
install(FILES README.md DESTINATION . COMPONENT archive)
# The README links to the guides in docs/.
install(FILES docs/operators-guide.md docs/development.md DESTINATION docs COMPONENT archive)
orvane_install_samples(. archive)

include(cmake/debian.cmake)

set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME orvanegate-${PROJECT_VERSION}-linux-x86_64)
# Each generator installs its own component (cmake/cpack_generators.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_generators.cmake)
set(CPACK_ORVANE_BUILD_DIR ${CMAKE_BINARY_DIR})
include(CPack)
