# Run by CPack after it made the Debian package (CPACK_POST_BUILD_SCRIPTS): adds the
# Built-Using field, naming the source package and version of every static archive the
# executable was linked with (CPACK_ORVANE_STATIC_ARCHIVES), as dpkg knows them now, so
# that a fix of one of those libraries shows which packages must be rebuilt. A build that
# links nothing statically gets no such field (an empty one is not valid).
find_program(DPKG_QUERY dpkg-query)
if(NOT DPKG_QUERY)
  message(FATAL_ERROR "The Debian package names the libraries linked into the executable "
                      "as dpkg knows them: build it on Debian (the archive alone: cpack -G TGZ).")
endif()
set(sources "")
foreach(archive IN LISTS CPACK_ORVANE_STATIC_ARCHIVES)
  execute_process(COMMAND ${DPKG_QUERY} -S ${archive} OUTPUT_VARIABLE owner
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^([^:, ]+).*" "\\1" owner "${owner}")
  execute_process(COMMAND ${DPKG_QUERY} -W "-f=\${source:Package} (= \${source:Version})"
                  ${owner} OUTPUT_VARIABLE source COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND sources "${source}")
endforeach()
list(REMOVE_DUPLICATES sources)
list(SORT sources)
list(JOIN sources ", " built_using)
if(built_using STREQUAL "")
  return()
endif()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  # The control file may end in an empty line, which would start a paragraph of its own.
  file(READ ${tree}/DEBIAN/control control)
  string(STRIP "${control}" control)
  file(WRITE ${tree}/DEBIAN/control "${control}\nBuilt-Using: ${built_using}\n")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
  message(STATUS "${package}: Built-Using: ${built_using}")
endforeach()
