# Cross build for the unit (aarch64) with Debian's cross compiler and a sysroot of arm64 packages
# unpacked under the build folder (scripts/device.sh makes it). Pass -DKESTRUN_SYSROOT=<folder>.
# Tests and benchmarks run under qemu-aarch64 with that sysroot as its library prefix.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# try_compile projects read this file again without the cache: carry the sysroot over.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUN_SYSROOT)
if(NOT KESTRUN_SYSROOT)
  set(KESTRUN_SYSROOT "$ENV{KESTRUN_SYSROOT}")
endif()
if(NOT KESTRUN_SYSROOT OR NOT IS_DIRECTORY "${KESTRUN_SYSROOT}")
  message(FATAL_ERROR "KESTRUN_SYSROOT must name the arm64 sysroot (scripts/device.sh makes it)")
endif()

# Libraries, headers and CMake packages come from the sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH "${KESTRUN_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KESTRUN_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${KESTRUN_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${KESTRUN_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The sysroot's shared libraries name their own dependencies (glib -> pcre2, ...): let the linker
# find those there, not on the host.
foreach(dir "${KESTRUN_SYSROOT}/usr/lib/aarch64-linux-gnu" "${KESTRUN_SYSROOT}/lib/aarch64-linux-gnu")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${dir}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${dir}")
endforeach()

# The unit's cores (Cortex-A72) have NEON and no more: build for the baseline of the architecture.
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-a72")
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-a72")

find_program(KESTRUN_QEMU qemu-aarch64)
if(KESTRUN_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${KESTRUN_QEMU};-cpu;cortex-a72;-L;${KESTRUN_SYSROOT}")
endif()
