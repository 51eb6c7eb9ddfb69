# Packages through CPack: a .deb for Debian 12 (the window, the command line, the simulator, the
# desktop entry and icon, the runtime libraries found by dpkg-shlibdeps) and, from the mingw
# preset, a .zip with zv8810-fwu.exe and the README.
#   cpack --config build/dev/CPackConfig.cmake -B build/dev/packages
set(CPACK_PACKAGE_NAME zv8810-fwu)
set(CPACK_PACKAGE_VENDOR "ORMEK")
set(CPACK_PACKAGE_CONTACT "ORMEK <support@ormek.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the ZV-8810 GNSS receiver")
set(CPACK_PACKAGE_HOMEPAGE_URL ${ZV_WEB_ADDRESS})
set(CPACK_STRIP_FILES ON)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION
        $<IF:$<PLATFORM_ID:Windows>,.,share/doc/zv8810-fwu>)

if(WIN32)
  install(TARGETS zv8810-fwu RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  if(NOT TARGET ZV8810_FWU)  # without Qt the window's folder installs nothing
    install(TARGETS zv8810-fwu zv8810-sim RUNTIME DESTINATION bin)
  endif()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Reads versions and writes the system file into a ZV-8810 receiver on a serial port:\n"
      "the window ZV8810_FWU, the command line zv8810-fwu and the simulated receiver\n"
      "zv8810-sim. Users who open serial ports must be in the dialout group\n"
      "(sudo usermod -aG dialout USER, then log in again).")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
endif()
include(CPack)

# The packages' contents and dependencies (not in the sanitizer builds).
if(ZV_BUILD_TESTS AND NOT ZV_SANITIZE)
  add_test(NAME packages COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-packages.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packages PROPERTIES LABELS package TIMEOUT 600 RESOURCE_LOCK packages)
endif()
