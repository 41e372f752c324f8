# Cross-building for 64-bit Windows with Debian's mingw-w64, the programs
# run under wine. The -posix compilers, as only their thread model has
# std::thread. Everything links statically, so an .exe needs no DLL but
# Windows' own.
#
# The libraries Debian ships no mingw build of (Highway, libsndfile, libsoxr)
# are built from Debian's sources by scripts/build-windows-deps.sh into a
# folder of their own, PHONOSKEW_WINDOWS_DEPS (by default build-windows/deps
# beside this folder), searched here after the tool chain's own root.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT PHONOSKEW_WINDOWS_DEPS)
  if(DEFINED ENV{PHONOSKEW_WINDOWS_DEPS})
    set(PHONOSKEW_WINDOWS_DEPS "$ENV{PHONOSKEW_WINDOWS_DEPS}")
  else()
    get_filename_component(PHONOSKEW_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps"
      ABSOLUTE)
  endif()
endif()
set(PHONOSKEW_WINDOWS_DEPS "${PHONOSKEW_WINDOWS_DEPS}" CACHE PATH
  "Where scripts/build-windows-deps.sh put the Windows builds of Highway, libsndfile and libsoxr")
# The compile checks CMake makes in folders of their own read this file
# again: hand them the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PHONOSKEW_WINDOWS_DEPS)

# Headers and libraries from the Windows roots alone: the build machine's
# /usr/include holds glibc's headers, which break a Windows build.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${PHONOSKEW_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The same for pkg-config, which some of the libraries' builds ask.
set(ENV{PKG_CONFIG_LIBDIR} "${PHONOSKEW_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# The tests (and GoogleTest's listing of them) run under wine, quiet, in a
# wine prefix of the build's own rather than ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" wine)
