# Cross-builds the Windows program on Debian with mingw-w64 (x86-64, POSIX threads variant, the
# one the Qt for Windows in TALVO_WINDOWS_QT was built with; the plain x86_64-w64-mingw32-g++ is
# the win32-threads variant and must not be mixed in).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DTALVO_WINDOWS_QT=<unpacked Qt for Windows>
# `make windows` does this, unpacking the Qt first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${TALVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${TALVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${TALVO_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP /usr/bin/${TALVO_MINGW_TRIPLET}-objdump CACHE FILEPATH "")
set(CMAKE_STRIP /usr/bin/${TALVO_MINGW_TRIPLET}-strip CACHE FILEPATH "")

# The compiler's runtime libraries that travel with the program.
set(TALVO_MINGW_RUNTIME_DIRS /usr/lib/gcc/${TALVO_MINGW_TRIPLET}/12-posix /usr/${TALVO_MINGW_TRIPLET}/lib)

# Try-compiles see the same Qt.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVO_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH /usr/${TALVO_MINGW_TRIPLET})
if(TALVO_WINDOWS_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TALVO_WINDOWS_QT})
  list(APPEND CMAKE_PREFIX_PATH ${TALVO_WINDOWS_QT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# lrelease is the same program for every platform and the Qt for Windows has none: Debian's
# host package, which the package search above would not look at.
if(NOT Qt5LinguistTools_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools)
  set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools CACHE PATH "")
endif()
