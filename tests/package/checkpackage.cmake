# SPDX-License-Identifier: GPL-2.0-or-later

# Makes the Debian package of the build in BUILD_DIR into OUTPUT_DIR and
# checks it: lintian finds no error and no warning, and the package holds
# what its scripts and users rely on. The package is thrown away: it is made
# from this build whatever its prefix (make package makes the real one).
if(NOT EXISTS "${LINTIAN}")
  message(FATAL_ERROR "lintian not found: run scripts/install-deps test")
endif()
file(REMOVE_RECURSE "${OUTPUT_DIR}")
execute_process(COMMAND "${CPACK}" -G DEB -B "${OUTPUT_DIR}" -D TARNLOOK_PACKAGE_LAYOUT_ONLY=ON
                WORKING_DIRECTORY "${BUILD_DIR}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB packages "${OUTPUT_DIR}/tarnlook_*.deb")
list(LENGTH packages count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack failed (${result}):\n${output}")
endif()

execute_process(COMMAND "${LINTIAN}" --fail-on error,warning --tag-display-limit 0
                        --display-info "${packages}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian reports errors or warnings (status ${result})")
endif()

execute_process(COMMAND dpkg-deb --contents "${packages}"
                OUTPUT_VARIABLE contents RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb --contents failed: ${result}")
endif()
# Where postinst and the window look, and the documents users read.
foreach(path ./usr/bin/tarnlook ./usr/lib/tarnlook/tarnlook-capture
             ./usr/share/man/man1/tarnlook.1.gz ./usr/share/man/man1/tarnlook-capture.1.gz
             ./usr/share/doc/tarnlook/copyright ./usr/share/doc/tarnlook/changelog.Debian.gz)
  string(FIND "${contents}" " ${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not in the package: ${path}\n${contents}")
  endif()
endforeach()
# No privilege beyond raw sockets, given by postinst alone.
execute_process(COMMAND dpkg-deb --ctrl-tarfile "${packages}"
                COMMAND tar -xOf - ./postinst
                OUTPUT_VARIABLE postinst)
if(NOT postinst MATCHES "setcap cap_net_raw=ep " OR postinst MATCHES "cap_net_admin")
  message(FATAL_ERROR "postinst gives other capabilities than cap_net_raw:\n${postinst}")
endif()
file(REMOVE_RECURSE "${OUTPUT_DIR}")
