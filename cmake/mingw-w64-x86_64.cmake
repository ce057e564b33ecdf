# Cross compiling for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix).
# The -posix compilers use winpthreads, so std::thread and std::mutex work; everything is linked
# statically, so a program runs on a Windows machine without any of the compiler's DLLs.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tarvo_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tarvo_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tarvo_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tarvo_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${tarvo_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC's interprocedural register allocation trusts what one copy of an inline or template function
# clobbers, while on Windows the linker may keep another copy of it (compiled elsewhere with other
# flags, as Qt's AVX files are): a value kept in a register across the call is then lost.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-ra")

# libstdc++, libgcc and libwinpthread go into the program; only system DLLs stay outside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the Windows test programs under Wine when it is there.
find_program(TARVO_WINE wine)
if(TARVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVO_WINE})
endif()
