# Cross-compiling for x86 Windows with Debian's MinGW-w64 compilers (the rest in mingw-common.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CARDPHOTO_MINGW_TRIPLET i686-w64-mingw32)

# Floating point in SSE registers, as on x64: the x87 unit keeps extra precision, and the photo's single-
# precision arithmetic would then round differently from the other builds.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
