# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain:
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQUORVEX_BUILD_APP=OFF
# The "-posix" compilers are the variant whose C++ library has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEX_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUORVEX_MINGW_TRIPLET}-gcc-posix ${QUORVEX_MINGW_TRIPLET}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORVEX_MINGW_TRIPLET}-g++-posix
                                      ${QUORVEX_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUORVEX_MINGW_TRIPLET}-windres REQUIRED)

# Search the target's own tree for libraries and headers, never the build machine's;
# programs (code generators and the like) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: the compiler's run-time libraries and winpthread are linked in,
# so a program runs on a plain Windows (or under Wine) without any of the toolchain's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine when it is there (ctest, gtest discovery).
find_program(QUORVEX_WINE NAMES wine)
if(QUORVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEX_WINE})
endif()
