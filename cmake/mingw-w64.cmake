# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64), run under wine64.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake [-DSORVEL_CRYPTOPP_PREFIX=DIR]
#         [-DSORVEL_LIBARCHIVE_PREFIX=DIR]
# SORVEL_CRYPTOPP_PREFIX is where scripts/build-cryptopp-mingw installed Crypto++ (default
# build-win/cryptopp/prefix), SORVEL_LIBARCHIVE_PREFIX where scripts/build-libarchive-mingw
# installed libarchive (default build-win/libarchive/prefix); pkg-config finds libcrypto++ and
# libarchive there and nowhere else.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix variant: the win32 one has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${SORVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVEL_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SORVEL_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${SORVEL_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Everything linked in: without -static the .exe needs libstdc++, libgcc and winpthread DLLs beside
# it, and under Wine it then fails without a word.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Headers and libraries from the MinGW sysroot and the Crypto++ prefix only; programs from the host.
set(SORVEL_CRYPTOPP_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-win/cryptopp/prefix"
    CACHE PATH "Crypto++ built for MinGW-w64 (scripts/build-cryptopp-mingw)")
get_filename_component(SORVEL_CRYPTOPP_PREFIX "${SORVEL_CRYPTOPP_PREFIX}" ABSOLUTE)
set(SORVEL_LIBARCHIVE_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-win/libarchive/prefix"
    CACHE PATH "libarchive built for MinGW-w64 (scripts/build-libarchive-mingw)")
get_filename_component(SORVEL_LIBARCHIVE_PREFIX "${SORVEL_LIBARCHIVE_PREFIX}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${SORVEL_MINGW_TRIPLE} "${SORVEL_CRYPTOPP_PREFIX}" "${SORVEL_LIBARCHIVE_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${SORVEL_CRYPTOPP_PREFIX}/lib/pkgconfig:${SORVEL_LIBARCHIVE_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Tests and other built programs run under wine64, through the wrapper that keeps Wine headless in
# the project's own prefix.
get_filename_component(SORVEL_WINE_RUNNER "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${SORVEL_WINE_RUNNER}")
