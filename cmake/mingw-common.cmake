# What both Windows toolchains share, once CARDPHOTO_MINGW_TRIPLET names the compiler (mingw-x64.cmake,
# mingw-x86.cmake). Debian's MinGW-w64 compilers of the POSIX thread model, which std::thread and
# std::mutex need. The GCC runtime, libstdc++ and winpthread are linked into every program and DLL, so an
# installation needs no MinGW DLL beside Qt's own.
set(CMAKE_C_COMPILER ${CARDPHOTO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CARDPHOTO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CARDPHOTO_MINGW_TRIPLET}-windres)

# Libraries and headers come only from the MinGW tree and from the prefixes of the libraries built for this
# target (CARDPHOTO_WINDOWS_DEPS, a list that scripts/build-windows passes), never from the build machine's
# own /usr; programs always come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CARDPHOTO_MINGW_TRIPLET} ${CARDPHOTO_WINDOWS_DEPS})
list(APPEND CMAKE_PREFIX_PATH ${CARDPHOTO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib comes from the MinGW tree, which holds both the DLL import library and the static one.
set(ZLIB_USE_STATIC_LIBS ON)

foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()
# CMake ends a link line that named a static system library with -Bdynamic, after which the compiler's own
# libraries (libstdc++, winpthread) would be taken as DLLs again.
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# The test programs are listed when ctest runs, not after linking: a build machine may not run them.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
