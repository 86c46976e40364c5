# SPDX-License-Identifier: GPL-2.0-or-later

# Read by cpack as it starts. The window looks for tarnlook-capture in
# CMAKE_INSTALL_PREFIX/lib/tarnlook (besides beside itself and in
# /usr/lib/tarnlook): a package from a build with another prefix would run a
# stale copy found there first. make package configures one with /usr.
# TARNLOOK_PACKAGE_LAYOUT_ONLY: for the package test, which checks the
# package's layout and metadata only and throws the package away.
if(NOT CPACK_TARNLOOK_INSTALL_PREFIX STREQUAL "/usr" AND NOT TARNLOOK_PACKAGE_LAYOUT_ONLY)
  message(FATAL_ERROR "This build is configured with CMAKE_INSTALL_PREFIX="
                      "${CPACK_TARNLOOK_INSTALL_PREFIX}; packages need /usr: run make package")
endif()
