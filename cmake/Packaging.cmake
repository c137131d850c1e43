# Installation of both programs, their manual pages and the tool's bash completion, and the
# Debian packages that CPack makes of them (scripts/package). Each package is a CPack component:
# its files are installed with COMPONENT <name>, its control fields are the
# CPACK_DEBIAN_<NAME>_* variables, and the target <name>_deb builds what it holds.
include(GNUInstallDirs)
# Installing (and so packaging) takes the programs as built: it never starts a build of its own,
# which would race the tests that run them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(SORVEL_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)

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

# Sets <out> to the program <target> as a package holds it: linked to Crypto++ and the C++
# runtime as shared libraries, so that the system's updates of them reach it. With
# SORVEL_STATIC_RUNTIME on, that is a second link of the same sources, <target>_packaged, in
# package-files/bin (the stand-alone program in the build folder stays as it is).
function(sorvel_packaged_program target out)
  if(NOT SORVEL_STATIC_RUNTIME)
    set(${out} ${target} PARENT_SCOPE)
    return()
  endif()
  set(packaged ${target}_packaged)
  get_target_property(folder ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  list(TRANSFORM sources PREPEND ${folder}/ REGEX "^[^/]")
  add_executable(${packaged} ${sources})
  foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS LINK_LIBRARIES LINK_OPTIONS)
    get_target_property(value ${target} ${property})
    if(value)
      set_property(TARGET ${packaged} PROPERTY ${property} "${value}")
    endif()
  endforeach()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set_target_properties(${packaged} PROPERTIES OUTPUT_NAME ${name} SORVEL_SHARED_RUNTIME ON
                        RUNTIME_OUTPUT_DIRECTORY ${SORVEL_PACKAGE_FILES}/bin)
  set(${out} ${packaged} PARENT_SCOPE)
endfunction()

# gzip -9n, as Debian wants manual pages and changelogs: no name, no time stamp.
function(sorvel_gzip source compressed)
  get_filename_component(folder ${compressed} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  add_custom_command(OUTPUT ${compressed} COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${source} ${compressed}
                     DEPENDS ${source} VERBATIM)
endfunction()

# ---- the package sorvel: both programs, their manual pages, the tool's completion ------------
set(programs "")
foreach(program sorvelExtractorWin sorvel_cli)
  sorvel_packaged_program(${program} packaged)
  list(APPEND programs ${packaged})
endforeach()
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sorvel)
# A stripped program still holds the compiler's notes (.comment), which nothing reads.
foreach(program ${programs})
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
    COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT sorvel)
endforeach()

set(sorvel_files "")
foreach(page sorvel.1 sorvelExtractorWin.1)
  sorvel_gzip(${PROJECT_SOURCE_DIR}/man/${page} ${SORVEL_PACKAGE_FILES}/man/${page}.gz)
  list(APPEND sorvel_files ${SORVEL_PACKAGE_FILES}/man/${page}.gz)
  install(FILES ${SORVEL_PACKAGE_FILES}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sorvel)
endforeach()
install(FILES completion/sorvel DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT sorvel)
# What every Debian package of the project holds besides its own files, made here once: the
# maintainer, the Debian changelog, the copyright file and the lintian overrides. The tool's
# package installs them below; scripts/library-packages reads the maintainer and the version
# from CPackConfig.cmake and copies the files from package-files/debian into its packages.
set(SORVEL_MAINTAINER "Sorvel Extractor developers <sorvel@users.noreply.example.org>")
set(SORVEL_DEBIAN_FILES ${SORVEL_PACKAGE_FILES}/debian)
configure_file(cmake/debian/changelog.in ${SORVEL_DEBIAN_FILES}/changelog.Debian @ONLY)
execute_process(COMMAND sh -c "gzip -9n -c changelog.Debian > changelog.Debian.gz" WORKING_DIRECTORY ${SORVEL_DEBIAN_FILES}
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(cmake/debian/lintian-overrides ${SORVEL_DEBIAN_FILES}/lintian-overrides COPYONLY)
set(debian_files ${SORVEL_DEBIAN_FILES}/changelog.Debian.gz)
# The copyright file: the project's licence is the text of LICENSE, under the short name
# SORVEL_LICENSE. Without it a package has no copyright file, which lintian (scripts/test) reports.
set(SORVEL_LICENSE "LicenseRef-Sorvel-All-rights-reserved")  # the licence's short name; its text is LICENSE
if(SORVEL_LICENSE AND EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE text)
  # Debian's copyright format: continuation lines start with a blank, an empty line is " .".
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" text "${text}")
  while(text MATCHES "\n\n")  # (a run of empty lines takes more than one pass)
    string(REPLACE "\n\n" "\n .\n" text "${text}")
  endwhile()
  set(SORVEL_LICENSE_TEXT " ${text}")
  configure_file(cmake/debian/copyright.in ${SORVEL_DEBIAN_FILES}/copyright @ONLY)
  list(APPEND debian_files ${SORVEL_DEBIAN_FILES}/copyright)
else()
  file(REMOVE ${SORVEL_DEBIAN_FILES}/copyright)
  message(STATUS "No LICENSE file or SORVEL_LICENSE: the Debian packages get no copyright file")
endif()
install(FILES ${debian_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sorvel COMPONENT sorvel)
install(FILES ${SORVEL_DEBIAN_FILES}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME sorvel COMPONENT sorvel)
add_custom_target(sorvel_deb ALL DEPENDS ${programs} ${sorvel_files})

# Control fields. The shared libraries the programs link are found by dpkg-shlibdeps; ICU, which
# they load only when a password needs NFKC, and fusermount3, which unmounts, are named here.
sorvel_debian_package_of(icuuc icu_package)
set(depends ${icu_package})
if(TARGET sorvel_mount)
  list(APPEND depends fuse3)
endif()
list(JOIN depends ", " depends)
set(CPACK_DEBIAN_SORVEL_PACKAGE_NAME sorvel)
set(CPACK_DEBIAN_SORVEL_PACKAGE_DEPENDS "${depends}")
set(CPACK_DEBIAN_SORVEL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_SORVEL_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_SORVEL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_SORVEL_DESCRIPTION
    "list, test, extract and export encrypted sorvel archives
A sorvel archive is one encrypted file (.sva) that holds a whole tree of
folders and files, encrypted with AES-256 (CFB or XTS) or Blowfish.
.
sorvelExtractorWin extracts a whole archive into a folder.
.
sorvel has the commands archive tools usually have:
list (the items, as text or JSON), test (read and decrypt everything,
write nothing), extract (everything or chosen items), cat (a file's content
to standard output), export (the tree as a pax tar stream) and mount (the
archive as a read-only FUSE file system).")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL sorvel)
set(CPACK_PACKAGE_NAME sorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)  # the first Debian revision of each version: sorvel_1.0.0-1
set(CPACK_PACKAGE_CONTACT "${SORVEL_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <package>_<version>-<revision>_<architecture>.deb
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)  # the debug information stays in the build
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
