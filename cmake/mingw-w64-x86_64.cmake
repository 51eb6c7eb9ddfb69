# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers, the posix-threads flavour
# (std::thread, std::mutex and std::condition_variable come from winpthreads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program stands alone: the C and C++ runtimes and winpthreads are linked in, so no DLL of
# the compiler has to sit beside the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
