# Cross-build for 64-bit Windows with MinGW-w64. Not the product: Chimelet.exe
# ships as a 32-bit program. This build runs the same Wine suites on machines
# whose kernel cannot execute 32-bit code, where 32-bit Wine cannot start.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
