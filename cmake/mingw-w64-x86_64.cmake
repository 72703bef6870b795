# Cross-building the Windows program with Debian's mingw-w64.
#
# The -posix compilers carry the threads library the standard library's mutexes need (the
# -win32 ones lack std::mutex), and everything is linked statically so the program needs no
# DLLs of the toolchain beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BUNKMERE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BUNKMERE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BUNKMERE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BUNKMERE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BUNKMERE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Libraries found by full path (odbc32) must not switch the rest of the link back to DLLs.
set(CMAKE_LINK_SEARCH_START_STATIC ON)
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# Test programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
