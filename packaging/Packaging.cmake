# Packages through CPack: a .deb for Debian 12 (the window, the command line, the simulator, the
# desktop entry and icon, the runtime libraries found by dpkg-shlibdeps) and, from the mingw
# preset, a .zip with ZV8810_FWU.exe, zv8810-fwu.exe and the README, and an installer made by
# NSIS (Debian's nsis: makensis) that puts both programs under Program Files, with a Start-menu
# entry for the window and an uninstaller.
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
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The installer: Program Files\ZV-8810 Firmware Updater, the Start-menu folder of that name
  # with the window and the uninstaller, and the entry of Apps and Features. It shows no license
  # page (the package carries none) and does not touch PATH.
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "ZV-8810 Firmware Updater")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "ZV-8810 Firmware Updater")
  set(CPACK_NSIS_PACKAGE_NAME "ZV-8810 Firmware Updater")
  set(CPACK_NSIS_DISPLAY_NAME "ZV-8810 Firmware Updater")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_PACKAGE_EXECUTABLES ZV8810_FWU "ZV-8810 Firmware Updater")
  set(CPACK_NSIS_INSTALLED_ICON_NAME ZV8810_FWU.exe)
  set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/ui/images/zv8810-fwu.ico)
  set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/ui/images/zv8810-fwu.ico)
  # A 64-bit installer for 64-bit programs: it writes the 64-bit registry view, and it runs
  # where only 64-bit Windows programs run (Debian's wine64 without the i386 part).
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
  set(CPACK_NSIS_MODIFY_PATH OFF)
  set(CPACK_NSIS_URL_INFO_ABOUT ${ZV_WEB_ADDRESS})
  set(CPACK_NSIS_CONTACT "support@ormek.example")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN ZV8810_FWU.exe)
  # The window's settings go with it: the uninstalling user's file in the user's folder (an
  # installed program keeps it there), that folder when nothing else is in it, and a file that
  # an earlier version left beside the programs, so that their folder is removed whole.
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  ReadEnvStr $0 APPDATA
  Delete "$0\ZV8810 Firmware Updater\ZV8810_FWU.ini"
  RMDir "$0\ZV8810 Firmware Updater"
  Delete "$INSTDIR\ZV8810_FWU.ini"]])
  set(CPACK_VERBATIM_VARIABLES ON)  # the values reach the installer's script as written here
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
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst
      ${CMAKE_SOURCE_DIR}/packaging/postrm)
endif()
include(CPack)

# The packages' contents and dependencies (not in the sanitizer builds).
if(ZV_BUILD_TESTS AND NOT ZV_SANITIZE)
  add_test(NAME packages COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-packages.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packages PROPERTIES LABELS package TIMEOUT 600 RESOURCE_LOCK packages)
  if(WIN32)  # the installer test (tests/Windows.cmake) takes the installer made here
    set_tests_properties(packages PROPERTIES FIXTURES_SETUP windows_packages)
  endif()
endif()
