# Install rules and packages of a release, built from the release configuration:
#
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANEGATE_TESTS=OFF
#   cmake --build build-release --target package
#
# Linux: orvanegate-<version>-linux-x86_64.tar.gz (one folder: the executable, the sample
# site of every server with the script that lays it out, the README) and
# orvanegate_<version>_amd64.deb. Windows (the MinGW build): orvanegate-<version>-windows-
# x86_64.zip with orvanegate.exe, the IIS web.config and the README.
#
# The two Linux layouts are install components: "archive" (the default, what a plain
# `cmake --install build-release --prefix DIR` lays out) and "debian", which only the
# Debian package installs.

set(CPACK_PACKAGE_NAME orvanegate)
set(CPACK_PACKAGE_VENDOR "orvanegate")
set(CPACK_PACKAGE_CONTACT "orvanegate maintainers <orvanegate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CGI gate of small member web sites: registration, profiles, posted images")
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS orvanegate RUNTIME DESTINATION . COMPONENT archive)
  install(FILES site/iis-web.config DESTINATION . RENAME web.config COMPONENT archive)
  install(FILES README.md DESTINATION . COMPONENT archive)
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
install(PROGRAMS $<TARGET_FILE:orvanegate> DESTINATION . RENAME orvanegate.exe
        COMPONENT archive)
install(FILES README.md DESTINATION . COMPONENT archive)
orvane_install_samples(. archive)

# The Debian package: the executable where Debian's web servers look for CGI programs. It
# reads config.txt and writes error.txt beside itself (the directory of its own path), so
# both are symbolic links there: config.txt to the configuration file that upgrades keep,
# error.txt into /var/log.
set(ORVANE_DEB_CGI usr/lib/cgi-bin/orvanegate)
set(ORVANE_DEB_STAGE ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${ORVANE_DEB_STAGE})
file(CREATE_LINK /etc/orvanegate/config.txt ${ORVANE_DEB_STAGE}/config.txt SYMBOLIC)
file(CREATE_LINK /var/log/orvanegate/error.txt ${ORVANE_DEB_STAGE}/error.txt SYMBOLIC)
# The installed configuration names the site that site-layout.sh lays out in /srv/orvanegate.
file(READ site/config.txt ORVANE_SAMPLE_CONFIG)
string(REPLACE "@RUN@" "/srv/orvanegate" ORVANE_SAMPLE_CONFIG "${ORVANE_SAMPLE_CONFIG}")
file(WRITE ${ORVANE_DEB_STAGE}/etc/config.txt "${ORVANE_SAMPLE_CONFIG}")
file(WRITE ${ORVANE_DEB_STAGE}/conffiles "/etc/orvanegate/config.txt\n")

install(PROGRAMS $<TARGET_FILE:orvanegate> DESTINATION ${ORVANE_DEB_CGI} RENAME orvanegate.exe
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${ORVANE_DEB_STAGE}/config.txt ${ORVANE_DEB_STAGE}/error.txt
        DESTINATION ${ORVANE_DEB_CGI} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${ORVANE_DEB_STAGE}/etc/config.txt DESTINATION etc/orvanegate
        COMPONENT debian EXCLUDE_FROM_ALL)
install(DIRECTORY DESTINATION var/log/orvanegate COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES README.md DESTINATION usr/share/doc/orvanegate COMPONENT debian EXCLUDE_FROM_ALL)
orvane_install_samples(usr/share/doc/orvanegate/examples debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME orvanegate-${PROJECT_VERSION}-linux-x86_64)
# Each generator installs its own component (cmake/cpack_generators.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_generators.cmake)
set(CPACK_ORVANE_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME orvanegate_${PROJECT_VERSION}_amd64.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The executable is linked statically: it depends on no library package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd | apache2 | nginx, fcgiwrap")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORVANE_DEB_STAGE}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
