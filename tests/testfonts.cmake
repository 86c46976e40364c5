# SPDX-License-Identifier: GPL-2.0-or-later

# The fonts the tests see: those of the font packages that
# scripts/install-deps installs, and no others. Pixel and geometry tests
# depend on the monospace font; a font that a developer added must not be
# able to make them pass where a fresh machine fails them, or the reverse.
#
# At configure time, every font file that `dpkg -L` lists for these packages
# is linked into ${TARNLOOK_TEST_FONT_DIR}, and a fontconfig file is written
# that scans that folder only and applies, in their usual order, the rules
# that fontconfig-config and the font packages enable on a fresh machine,
# less the user's and the local ones (50-user, 51-local), which may add
# fonts or change their rendering.
# Sets TARNLOOK_TEST_FONTCONFIG_FILE to that file, or leaves it empty, with a
# warning, where no such package can be found (the tests then see every font
# of the machine).

set(TARNLOOK_TEST_FONT_DIR ${CMAKE_CURRENT_BINARY_DIR}/fonts)
set(TARNLOOK_TEST_FONTCONFIG_FILE "")

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/scripts/install-deps)
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/install-deps --list fonts
                OUTPUT_VARIABLE font_packages OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE listed)
if(NOT listed EQUAL 0 OR font_packages STREQUAL "")
  message(FATAL_ERROR "scripts/install-deps --list fonts failed")
endif()
string(REPLACE "\n" ";" font_packages "${font_packages}")

file(REMOVE_RECURSE ${TARNLOOK_TEST_FONT_DIR})
set(font_count 0)
set(font_rules "")
set(missing_packages "")
foreach(package IN LISTS font_packages ITEMS fontconfig-config)
  execute_process(COMMAND dpkg -L ${package} OUTPUT_VARIABLE files ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE found)
  if(NOT found EQUAL 0)
    list(APPEND missing_packages ${package})
    continue()
  endif()
  string(REPLACE "\n" ";" files "${files}")
  foreach(file IN LISTS files)
    get_filename_component(name "${file}" NAME)
    if(file MATCHES "^/usr/share/fonts/.*\\.(ttf|ttc|otf)$" AND EXISTS ${file})
      file(MAKE_DIRECTORY ${TARNLOOK_TEST_FONT_DIR}/${package})
      file(CREATE_LINK ${file} ${TARNLOOK_TEST_FONT_DIR}/${package}/${name} SYMBOLIC)
      math(EXPR font_count "${font_count} + 1")
    elseif(file MATCHES "^/etc/fonts/conf\\.d/.*\\.conf$" AND EXISTS ${file}
           AND NOT name MATCHES "^5[01]-(user|local)\\.conf$")
      # The package's own file, wherever the link in conf.d points.
      get_filename_component(rule ${file} REALPATH)
      list(APPEND font_rules "${name}|${rule}")
    endif()
  endforeach()
endforeach()

# What fontconfig-config's installation links by default, from the answers
# to its questions (hinting style "slight", no bitmap fonts): dpkg -L does
# not list these. Glyph advances depend on the hinting, so a machine set
# otherwise still tests as a fresh one.
foreach(name 10-hinting-slight.conf 70-no-bitmaps.conf)
  list(APPEND font_rules "${name}|/usr/share/fontconfig/conf.avail/${name}")
endforeach()

if(missing_packages)
  list(JOIN missing_packages " " missing_packages)
  message(WARNING "Test fonts: not installed: ${missing_packages}. "
                  "Run scripts/install-deps (make run and make test do); until then the tests see "
                  "only the fonts of the other packages named there.")
endif()
if(font_count EQUAL 0)
  message(WARNING "Test fonts: none of the font packages of scripts/install-deps is "
                  "installed; the tests see every font of this machine, and their "
                  "results may depend on it.")
  return()
endif()

# By the number in the name, as fontconfig reads conf.d.
list(SORT font_rules)
set(includes "")
foreach(entry IN LISTS font_rules)
  string(REGEX REPLACE "^[^|]*\\|" "" rule "${entry}")
  string(APPEND includes "  <include ignore_missing=\"yes\">${rule}</include>\n")
endforeach()

set(TARNLOOK_TEST_FONTCONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/fonts.conf)
file(CONFIGURE OUTPUT ${TARNLOOK_TEST_FONTCONFIG_FILE} @ONLY CONTENT
"<?xml version=\"1.0\"?>
<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">
<!-- Written by tests/testfonts.cmake: the fonts of the tests. -->
<fontconfig>
  <dir>${TARNLOOK_TEST_FONT_DIR}</dir>
  <cachedir>${CMAKE_CURRENT_BINARY_DIR}/fontconfig-cache</cachedir>
${includes}</fontconfig>
")
