# SPDX-License-Identifier: GPL-2.0-or-later

# Debian's hardening flags (dpkg-buildflags with hardening=+all on Debian
# 12) for every target: stack protector, format checks, _FORTIFY_SOURCE,
# full RELRO with BIND_NOW, and position-independent executables. The same
# whatever the build type, so that `make run` runs what the package ships.
#
# Sanitized and fuzzing builds keep everything but _FORTIFY_SOURCE: its
# checked copies of memcpy and friends would bypass the sanitizers'
# interceptors and hide the very overflows those builds look for.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# glibc's _FORTIFY_SOURCE needs an optimised build (and warns without one).
if(NOT TARNLOOK_SANITIZE AND NOT TARNLOOK_FUZZ)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
