# The Debian package (the "debian" install component), included by cmake/packaging.cmake.
# Its files besides the build's are in cmake/debian/; docs/orvanegate.8 is the manual page.
#
#   /usr/lib/orvanegate/orvanegate.exe   the executable, outside /usr/lib/cgi-bin (which
#                                        Debian's Apache serves at /cgi-bin/ outside the
#                                        site's configuration); a site's cgi/ links here
#   /usr/lib/orvanegate/config.txt       -> /etc/orvanegate/config.txt (a conffile)
#   /usr/lib/orvanegate/error.txt        -> /var/log/orvanegate/error.txt (tmpfiles.d)
#   /usr/sbin/orvanegate                 -> the executable, for the operator's shell
#   /lib/systemd/system/orvanegate-fastcgi.{socket,service}   from site/, not enabled
#   /usr/share/orvanegate/orvanegate-fastcgi.sh               the service's manager script
#   /usr/share/doc/orvanegate/           README, README.Debian, copyright, changelog.gz,
#                                        docs/operators-guide.md (where the README links),
#                                        examples/ (the archive's site/ and scripts/)
# The executable reads config.txt and writes error.txt beside its own path (symbolic
# links resolved), hence the two links.
set(ORVANE_DEB_LIB usr/lib/orvanegate)
set(ORVANE_DEB_EXE /${ORVANE_DEB_LIB}/orvanegate.exe)
set(ORVANE_DEB_SCRIPT /usr/share/orvanegate/orvanegate-fastcgi.sh)
# The site that site-layout.sh lays out for the installed configuration and units.
set(ORVANE_DEB_SITE /srv/orvanegate)
set(ORVANE_DEB_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian)
set(ORVANE_DEB_STAGE ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${ORVANE_DEB_STAGE})
# Every file read here makes a change to it reconfigure the build.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${ORVANE_DEB_SOURCE}/changelog ${CMAKE_CURRENT_SOURCE_DIR}/docs/orvanegate.8
  ${CMAKE_CURRENT_SOURCE_DIR}/site/orvanegate-fastcgi.service
  ${CMAKE_CURRENT_SOURCE_DIR}/site/orvanegate-fastcgi.socket)

file(CREATE_LINK /etc/orvanegate/config.txt ${ORVANE_DEB_STAGE}/config.txt SYMBOLIC)
file(CREATE_LINK /var/log/orvanegate/error.txt ${ORVANE_DEB_STAGE}/error.txt SYMBOLIC)
file(CREATE_LINK ../lib/orvanegate/orvanegate.exe ${ORVANE_DEB_STAGE}/orvanegate SYMBOLIC)
file(READ site/config.txt ORVANE_SAMPLE_CONFIG)
string(REPLACE "@RUN@" "${ORVANE_DEB_SITE}" ORVANE_SAMPLE_CONFIG "${ORVANE_SAMPLE_CONFIG}")
file(WRITE ${ORVANE_DEB_STAGE}/etc/config.txt "${ORVANE_SAMPLE_CONFIG}")
file(WRITE ${ORVANE_DEB_STAGE}/conffiles "/etc/orvanegate/config.txt\n")

# The units of site/ with the package's manager script and executable and the site's
# socket, and the manual page as their documentation; their comments, written for a
# hand-made copy, give way to one line.
foreach(unit orvanegate-fastcgi.socket orvanegate-fastcgi.service)
  file(READ site/${unit} text)
  string(REGEX REPLACE "^(#[^\n]*\n)+" "" text "${text}")
  string(REPLACE "@RUN@/conf/orvanegate-fastcgi.sh" "${ORVANE_DEB_SCRIPT}" text "${text}")
  string(REPLACE "@RUN@/cgi/orvanegate.exe" "${ORVANE_DEB_EXE}" text "${text}")
  string(REPLACE "@RUN@" "${ORVANE_DEB_SITE}" text "${text}")
  string(REPLACE "[Unit]\n" "[Unit]\nDocumentation=man:orvanegate(8)\n" text "${text}")
  if(text MATCHES "@[A-Z_]+@")
    message(FATAL_ERROR "site/${unit}: ${CMAKE_MATCH_0} has no value in the Debian package")
  endif()
  string(FIND "${text}" " ${ORVANE_DEB_EXE}" exe_at)
  if(unit MATCHES "service$" AND exe_at EQUAL -1)
    message(FATAL_ERROR "site/${unit}: no @RUN@/cgi/orvanegate.exe for the package's executable")
  endif()
  file(WRITE ${ORVANE_DEB_STAGE}/${unit}
    "# Installed by the orvanegate package and not enabled: see orvanegate(8).\n${text}")
endforeach()

# The changelog names the release: its first entry must be this version.
file(STRINGS ${ORVANE_DEB_SOURCE}/changelog ORVANE_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT ORVANE_CHANGELOG_HEAD MATCHES "^orvanegate \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the first entry is not version ${PROJECT_VERSION}")
endif()
find_program(ORVANE_GZIP gzip REQUIRED)
foreach(pair "cmake/debian/changelog:changelog.gz" "docs/orvanegate.8:orvanegate.8.gz")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 target)
  # -n: no name and time stamp in the header, so that a rebuild gives the same bytes.
  execute_process(COMMAND ${ORVANE_GZIP} -9nc INPUT_FILE ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                  OUTPUT_FILE ${ORVANE_DEB_STAGE}/${target} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(ORVANE_DEB COMPONENT debian EXCLUDE_FROM_ALL)
orvane_install_executable(${ORVANE_DEB_LIB} debian EXCLUDE_FROM_ALL)
install(FILES ${ORVANE_DEB_STAGE}/config.txt ${ORVANE_DEB_STAGE}/error.txt
        DESTINATION ${ORVANE_DEB_LIB} ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_STAGE}/orvanegate DESTINATION usr/sbin ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_STAGE}/etc/config.txt DESTINATION etc/orvanegate ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_STAGE}/orvanegate-fastcgi.socket
              ${ORVANE_DEB_STAGE}/orvanegate-fastcgi.service
        DESTINATION lib/systemd/system ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_SOURCE}/orvanegate.tmpfiles DESTINATION usr/lib/tmpfiles.d
        RENAME orvanegate.conf ${ORVANE_DEB})
install(PROGRAMS site/orvanegate-fastcgi.sh DESTINATION usr/share/orvanegate ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_STAGE}/orvanegate.8.gz DESTINATION usr/share/man/man8 ${ORVANE_DEB})
install(FILES ${ORVANE_DEB_SOURCE}/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME orvanegate ${ORVANE_DEB})
install(FILES README.md ${ORVANE_DEB_SOURCE}/README.Debian ${ORVANE_DEB_SOURCE}/copyright
              ${ORVANE_DEB_STAGE}/changelog.gz
        DESTINATION usr/share/doc/orvanegate ${ORVANE_DEB})
# The development guide stays out: it is about the source tree, which the package lacks.
install(FILES docs/operators-guide.md DESTINATION usr/share/doc/orvanegate/docs ${ORVANE_DEB})
orvane_install_samples(usr/share/doc/orvanegate/examples debian EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_FILE_NAME orvanegate_${PROJECT_VERSION}_amd64.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The lines under the summary (CPACK_PACKAGE_DESCRIPTION_SUMMARY).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The gate answers the requests of a small member web site (registration,
password changes, profiles and posted images, kept in Shift_JIS files) as
CGI or as persistent FastCGI processes. The package installs the executable,
its manual page, the systemd units of the FastCGI processes (not enabled)
and the sample configurations of lighttpd, Apache httpd and nginx.")
# The executable is linked statically: it depends on no library package. Built-Using
# names the source packages of the static archives linked in instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd | apache2 | nginx, fcgiwrap, spawn-fcgi")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORVANE_DEB_STAGE}/conffiles
    ${ORVANE_DEB_SOURCE}/postinst ${ORVANE_DEB_SOURCE}/prerm ${ORVANE_DEB_SOURCE}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The sodium library is the one library of the gate's own; with -static, the C library and
# the compiler's runtime are linked in too (a sanitizer build links those dynamically).
set(ORVANE_STATIC_ARCHIVES ${SODIUM_LIBRARY})
if(NOT ORVANEGATE_SANITIZE)
  foreach(archive libc.a libstdc++.a libgcc.a libgcc_eh.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${archive}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH "${path}" path)
    list(APPEND ORVANE_STATIC_ARCHIVES ${path})
  endforeach()
endif()
set(CPACK_ORVANE_STATIC_ARCHIVES "${ORVANE_STATIC_ARCHIVES}")
set(CPACK_ORVANE_BUILT_USING_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian_built_using.cmake)
