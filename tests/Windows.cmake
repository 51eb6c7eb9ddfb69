# The suites that run on Windows, built as .exe by the mingw preset and run under Wine in the
# build tree's prefix (scripts/wine-run.sh makes it on first use). GoogleTest is built from
# Debian's sources (libgtest-dev ships them), since Debian has no Windows build of it.
set(ZV_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh --prefix ${CMAKE_BINARY_DIR}/wineprefix)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(zvtestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/TestSupportWin32.cpp)
target_link_libraries(zvtestsupport PUBLIC zvcore)
target_include_directories(zvtestsupport PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(zvtestsupport PRIVATE ZV_CLI_PATH="$<TARGET_FILE:zv8810-fwu>")

# zv_windows_test(NAME LABEL sources...): one test program, run whole as one CTest test under
# Wine (each start of Wine costs about a second, so the cases are not started one by one).
# A list in ZV_TEST_WRAPPER runs before Wine (it sets up what the suite needs).
function(zv_windows_test name label)
  add_executable(${name} ${ARGN} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/TestMain.cpp)
  target_link_libraries(${name} PRIVATE zvtestsupport gtest)
  add_dependencies(${name} zv8810-fwu)
  add_test(NAME ${name} COMMAND ${ZV_TEST_WRAPPER} ${ZV_WINE_RUN} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()

zv_windows_test(framing_test unit ${CMAKE_CURRENT_LIST_DIR}/framing_test.cpp)
zv_windows_test(appdata_test unit ${CMAKE_CURRENT_LIST_DIR}/appdata_test.cpp)

# The Windows services, and the serial device and the port engine on two COM ports wired to
# each other (socat joins two pseudo-terminals that the prefix's dosdevices name COM31, COM32).
set(ZV_TEST_WRAPPER ${CMAKE_SOURCE_DIR}/scripts/wine-com-pair.sh ${CMAKE_BINARY_DIR}/wineprefix 31 32)
zv_windows_test(win32_test unit ${CMAKE_CURRENT_LIST_DIR}/win32_test.cpp)
unset(ZV_TEST_WRAPPER)
target_compile_definitions(win32_test PRIVATE
  ZV_RESIDENT_PATH="Z:${CMAKE_SOURCE_DIR}/resident/resident.bin")
# With the window's model: what the native face hands to the system.
target_link_libraries(win32_test PRIVATE zvuimodel)

# zv8810-fwu.exe against zv8810-sim, beside the Linux zv8810-fwu: same log lines, wire bytes and
# exit statuses. The simulator and the Linux program come from the dev preset's tree.
set(ZV_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build/dev CACHE PATH
  "A Linux build tree with zv8810-sim, zv8810-mkfw and zv8810-fwu (for the Wine e2e test)")
add_test(NAME wine_cli_e2e
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-e2e.sh ${CMAKE_BINARY_DIR} ${ZV_LINUX_BUILD})
# Alone: its runs keep the receiver's pauses and time limits, which a busy second core could
# stretch under Wine.
set_tests_properties(wine_cli_e2e PROPERTIES LABELS e2e TIMEOUT 900 RUN_SERIAL TRUE
  SKIP_RETURN_CODE 77)

# The window driven from outside through its controls' messages (zv8810-window-driver.exe) and
# the installer: installed silently under Wine, the installed window started twice (it must come
# up and keep its settings), uninstalled leaving nothing. The packages test makes the installer.
add_executable(zv8810-window-driver ${CMAKE_CURRENT_LIST_DIR}/window_driver.cpp)
target_include_directories(zv8810-window-driver PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(zv8810-window-driver PRIVATE UNICODE _UNICODE)
target_link_options(zv8810-window-driver PRIVATE -municode)
add_dependencies(zv8810-window-driver ZV8810_FWU)
add_test(NAME wine_installer COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-installer.sh ${CMAKE_BINARY_DIR})
set_tests_properties(wine_installer PROPERTIES LABELS package TIMEOUT 300
  FIXTURES_REQUIRED windows_packages RESOURCE_LOCK packages)

# The window against zv8810-sim, driven through its controls by zv8810-window-driver.exe, beside
# the Linux zv8810-fwu: the same log lines and messages. Alone, like wine_cli_e2e.
add_test(NAME wine_window_e2e
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-window-e2e.sh ${CMAKE_BINARY_DIR} ${ZV_LINUX_BUILD})
set_tests_properties(wine_window_e2e PROPERTIES LABELS e2e TIMEOUT 900 RUN_SERIAL TRUE
  SKIP_RETURN_CODE 77)

# The window worked with the mouse alone: xdotool on a display of its own (Xvfb with openbox)
# clicks COM5 in the port list, firmware.bin in the file dialog and "Programming"; the message
# box must read "Execution is successfully completed" with the versions, and the log saved
# through the log list's menu must be the expected one; in English and in Russian. Alone, like
# wine_window_e2e (it also ends the prefix's Wine processes, whose desktop keeps its display). The
# final state of each run is saved as shots/win32-mouse-done-en.png and -ru.png.
add_test(NAME wine_window_mouse
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-window-mouse.sh ${CMAKE_BINARY_DIR} ${ZV_LINUX_BUILD}
          ${CMAKE_BINARY_DIR}/shots)
set_tests_properties(wine_window_mouse PROPERTIES LABELS "e2e;mouse" TIMEOUT 600 RUN_SERIAL TRUE
  SKIP_RETURN_CODE 77)
