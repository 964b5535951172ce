# The MinGW-w64 cross toolchain for the triplet QUIB_MINGW_TRIPLET, shared by
# the toolchain files of the two Windows targets.
# The -posix compilers are used because GoogleTest needs std::mutex,
# which the win32 thread model of the default compilers lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QUIB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIB_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUIB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Link the C and C++ runtimes and winpthread statically: the .exe and .dll
# files must run without any MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
