# What both MinGW-w64 toolchains share; CMAKE_SYSTEM_PROCESSOR (i686 or
# x86_64) names the compilers. The -posix compilers are needed: GoogleTest
# uses std::mutex, which the win32 thread model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(_triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
