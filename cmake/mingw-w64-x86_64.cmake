# Cross build for 64-bit Windows with MinGW-w64. The -posix compilers are used so that
# std::thread and std::mutex work; everything links statically so the programs need no
# MinGW runtime DLLs (a fresh Wine prefix or Windows machine has none).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${PM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs built here run under Wine (see scripts/wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
