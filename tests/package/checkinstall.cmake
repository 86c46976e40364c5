# SPDX-License-Identifier: GPL-2.0-or-later

# Installs the build in BUILD_DIR into a fresh PREFIX and checks that every
# file a desktop and the window need is where they look for it.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
  bin/tarnlook
  lib/tarnlook/tarnlook-capture
  share/applications/org.tarnlook.Tarnlook.desktop
  share/metainfo/org.tarnlook.Tarnlook.metainfo.xml
  share/icons/hicolor/scalable/apps/tarnlook.svg
  share/icons/hicolor/48x48/apps/tarnlook.png
  share/icons/hicolor/64x64/apps/tarnlook.png
  share/icons/hicolor/128x128/apps/tarnlook.png
  share/icons/hicolor/256x256/apps/tarnlook.png
  share/man/man1/tarnlook.1.gz
  share/man/man1/tarnlook-capture.1.gz
  share/doc/tarnlook/copyright
  share/doc/tarnlook/changelog.Debian.gz)
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(program bin/tarnlook lib/tarnlook/tarnlook-capture)
  execute_process(COMMAND test -x "${PREFIX}/${program}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "not executable: ${program}")
  endif()
endforeach()
# The menu entry starts the installed program with the installed icon.
file(READ "${PREFIX}/share/applications/org.tarnlook.Tarnlook.desktop" entry)
if(NOT entry MATCHES "\nExec=tarnlook\n" OR NOT entry MATCHES "\nIcon=tarnlook\n")
  message(FATAL_ERROR "the desktop entry runs or shows something else")
endif()
file(REMOVE_RECURSE "${PREFIX}")
