# The tests of the Windows build, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR): the unit tests
# whose code does not reach the host layer, and the Win32 host layer's own tests in win32/. The
# others drive POSIX processes, terminals and descriptors and run on Linux only.
# Google Test is built from Debian's source package (googletest), as no MinGW build of it is
# packaged.
set(SORVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "Google Test's sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${SORVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

set(SORVEL_WINDOWS_SUPPORT
  support/ArchiveBuilder.cpp support/ArchiveLayout.cpp support/ArchivePlan.cpp support/ArchiveSealer.cpp
  support/ContentGenerator.cpp support/DetailFileBuilder.cpp support/DirectoryGroup.cpp support/HeaderEncoder.cpp
  support/HostileArchives.cpp support/RawContainer.cpp)
add_library(sorvel_test_support STATIC ${SORVEL_WINDOWS_SUPPORT})
target_include_directories(sorvel_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(sorvel_test_support PRIVATE ${SORVEL_WARNINGS})
target_link_libraries(sorvel_test_support PUBLIC sorvel_app gtest)

set(SORVEL_WINDOWS_TESTS
  archive_header archive_time blowfish cipher_context console container_file content_pipeline cryptaesxts
  detail_table directory_parser folder_tree key_block name_rules password_digest password_entry utf16
  wide_aes xts_decryptor)
file(GLOB SORVEL_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*_test.cpp)
foreach(src ${SORVEL_WINDOWS_TESTS} ${SORVEL_WIN32_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(NOT IS_ABSOLUTE ${src})
    set(src ${CMAKE_CURRENT_SOURCE_DIR}/${name}_test.cpp)
    set(name ${name}_test)
  endif()
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${SORVEL_WARNINGS})
  target_link_libraries(${name} PRIVATE sorvel_test_support gtest_main)
  # One ctest entry per program: discovering the cases would start Wine once more for each.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endforeach()

# The password prompt at a console: Wine's console host on a pseudo-terminal, driven from Linux.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME console_prompt_pty
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/console_prompt_pty.py
                   ${SORVEL_WINE_RUNNER} $<TARGET_FILE:sorvelExtractorWin> ${PROJECT_SOURCE_DIR}/examples/sample.sva)
  set_tests_properties(console_prompt_pty PROPERTIES TIMEOUT 180)
endif()
