# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain, posix
# thread model (std::thread and the standard locks work).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
#         -DNORV_BOOST_PREFIX=<folder scripts/build-boost-mingw printed> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NORV_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${NORV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NORV_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${NORV_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the target")

# Libraries and headers come from the MinGW sysroot and from the Boost
# built for this target; programs (compilers, tools) from the host.
set(NORV_BOOST_PREFIX "" CACHE PATH "Boost.Serialization built for i686-w64-mingw32")
set(CMAKE_FIND_ROOT_PATH /usr/${NORV_MINGW_TRIPLE} ${NORV_BOOST_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++, winpthread) and zlib are linked in
# statically, so the DLL and the programs need no MinGW DLLs beside them.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
