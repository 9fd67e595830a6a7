# The sodium library (its Argon2id password hash) for the Windows build, compiled here for
# MinGW from Debian's source package, the same code that Debian's libsodium-dev holds for
# the Linux build. ORVANEGATE_SODIUM_SOURCE names an unpacked source tree; when it is unset
# the package is fetched once into the build directory with "apt-get source libsodium",
# which needs a deb-src entry (scripts/install-deps.sh adds one) and dpkg-dev.
enable_language(C)
set(ORVANEGATE_SODIUM_SOURCE "" CACHE PATH "An unpacked source tree of libsodium")

set(orvane_sodium_fetched ${CMAKE_BINARY_DIR}/libsodium-debian)
if(NOT ORVANEGATE_SODIUM_SOURCE)
  file(GLOB orvane_sodium_trees LIST_DIRECTORIES true ${orvane_sodium_fetched}/libsodium-*/src)
  if(NOT orvane_sodium_trees)
    file(MAKE_DIRECTORY ${orvane_sodium_fetched})
    execute_process(COMMAND apt-get source libsodium WORKING_DIRECTORY ${orvane_sodium_fetched}
                    RESULT_VARIABLE orvane_sodium_result)
    file(GLOB orvane_sodium_trees LIST_DIRECTORIES true ${orvane_sodium_fetched}/libsodium-*/src)
    if(NOT orvane_sodium_result EQUAL 0 OR NOT orvane_sodium_trees)
      message(FATAL_ERROR "apt-get source libsodium failed: run scripts/install-deps.sh "
                          "(a deb-src entry and dpkg-dev) or set ORVANEGATE_SODIUM_SOURCE")
    endif()
  endif()
  list(GET orvane_sodium_trees 0 orvane_sodium_src)
  get_filename_component(ORVANEGATE_SODIUM_SOURCE ${orvane_sodium_src} DIRECTORY)
endif()

set(orvane_sodium_lib ${ORVANEGATE_SODIUM_SOURCE}/src/libsodium)
if(NOT EXISTS ${orvane_sodium_lib}/include/sodium/version.h.in)
  message(FATAL_ERROR "${ORVANEGATE_SODIUM_SOURCE} is no libsodium source tree")
endif()

# The headers, with version.h beside them, which the package's configure script would
# write: from configure.ac's numbers.
file(COPY ${orvane_sodium_lib}/include/ DESTINATION ${CMAKE_BINARY_DIR}/sodium-include
     PATTERN "*.in" EXCLUDE)
file(STRINGS ${ORVANEGATE_SODIUM_SOURCE}/configure.ac orvane_sodium_numbers
     REGEX "^(SODIUM_LIBRARY_VERSION_(MAJOR|MINOR)=|AC_INIT)")
string(REGEX MATCH "MAJOR=([0-9]+)" _ "${orvane_sodium_numbers}")
set(SODIUM_LIBRARY_VERSION_MAJOR ${CMAKE_MATCH_1})
string(REGEX MATCH "MINOR=([0-9]+)" _ "${orvane_sodium_numbers}")
set(SODIUM_LIBRARY_VERSION_MINOR ${CMAKE_MATCH_1})
string(REGEX MATCH "\\[([0-9]+\\.[0-9]+\\.[0-9]+)\\]" _ "${orvane_sodium_numbers}")
set(VERSION ${CMAKE_MATCH_1})
set(SODIUM_LIBRARY_MINIMAL_DEF "")
configure_file(${orvane_sodium_lib}/include/sodium/version.h.in
               ${CMAKE_BINARY_DIR}/sodium-include/sodium/version.h @ONLY)

# Every source: those for processor extensions compile to nothing without their HAVE_*
# macros, so the portable code is used throughout.
file(GLOB_RECURSE orvane_sodium_sources ${orvane_sodium_lib}/*.c)
add_library(orvane_sodium STATIC ${orvane_sodium_sources})
target_include_directories(orvane_sodium
  PUBLIC ${CMAKE_BINARY_DIR}/sodium-include PRIVATE ${CMAKE_BINARY_DIR}/sodium-include/sodium)
target_compile_definitions(orvane_sodium PUBLIC SODIUM_STATIC
  PRIVATE CONFIGURED=1 NATIVE_LITTLE_ENDIAN=1)
# The library's own code, compiled as its authors wrote it.
target_compile_options(orvane_sodium PRIVATE -w -O2)
