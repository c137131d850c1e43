# Installation of both programs, their manual pages and the tool's bash completion, and the
# Debian package that CPack makes of them (scripts/package).
include(GNUInstallDirs)
# Installing (and so packaging) takes the programs as built: it never starts a build of its own,
# which would race the tests that run them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS sorvelExtractorWin sorvel_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/sorvel.1 man/sorvelExtractorWin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completion/sorvel DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The Debian package that holds a shared library, found by the file pkg-config links.
function(sorvel_debian_package_of library out)
  set(package "")
  find_library(path_${library} NAMES ${library})
  if(path_${library})
    get_filename_component(real "${path_${library}}" REALPATH)
    execute_process(COMMAND dpkg-query -S "${real}" OUTPUT_VARIABLE owner ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT owner AND real MATCHES "^/usr(/.*)$")  # a package may name it without /usr (merged /usr)
      execute_process(COMMAND dpkg-query -S "${CMAKE_MATCH_1}" OUTPUT_VARIABLE owner ERROR_QUIET
                      OUTPUT_STRIP_TRAILING_WHITESPACE)
    endif()
    string(REGEX REPLACE "^([^:]+):.*$" "\\1" package "${owner}")
  endif()
  set(${out} "${package}" PARENT_SCOPE)
endfunction()

set(SORVEL_DEBIAN_DEPENDS "")
# ICU is loaded when a password needs NFKC; Crypto++ is linked in when SORVEL_STATIC_RUNTIME is on.
set(SORVEL_PACKAGED_LIBRARIES icuuc archive)
if(NOT SORVEL_STATIC_RUNTIME)
  list(APPEND SORVEL_PACKAGED_LIBRARIES cryptopp)
endif()
if(TARGET sorvel_mount)
  list(APPEND SORVEL_PACKAGED_LIBRARIES fuse3)  # `sorvel mount`
endif()
foreach(library ${SORVEL_PACKAGED_LIBRARIES})
  sorvel_debian_package_of(${library} package)
  if(package)
    list(APPEND SORVEL_DEBIAN_DEPENDS ${package})
  endif()
endforeach()
# The C library comes with every program built here, the C++ runtime too unless it is linked
# in (ICU needs it anyway); fusermount3, which unmounts, with fuse3.
list(APPEND SORVEL_DEBIAN_DEPENDS libstdc++6 libgcc-s1 libc6)
if(TARGET sorvel_mount)
  list(APPEND SORVEL_DEBIAN_DEPENDS fuse3)
endif()
list(JOIN SORVEL_DEBIAN_DEPENDS ", " SORVEL_DEBIAN_DEPENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Sorvel Extractor developers <sorvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list, test, extract and export encrypted sorvel archives")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # sorvel_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${SORVEL_DEBIAN_DEPENDS}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)  # the debug information stays in the build
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
