# Shared by both MinGW-w64 toolchains. The -posix compiler variants are used throughout,
# for the product and the tests alike: GoogleTest needs std::mutex, which the -win32
# variants of GCC 12 lack. The product itself uses no C++ threads (its threads, events
# and locks are Win32 calls) and links everything statically, so it imports no
# threads DLL.
set(CMAKE_C_COMPILER ${VELTO_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTO_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTO_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${VELTO_TRIPLET}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${VELTO_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
