# The Windows tests, run under Wine: the unit tests above, the HID backend
# over a fake of its device calls, the platform layer, and the programs
# end to end.

target_sources(program_tests PRIVATE platform_win32_test.cpp)

# The Windows HID backend linked against a fake of the device calls it makes.
add_executable(hid_backend_win32_tests
  hid_backend_win32_test.cpp
  fake_win32_hid.cpp
  fake_win32_hid_io.cpp
  ${PROJECT_SOURCE_DIR}/remote/hid_backend_win32.cpp
  $<TARGET_OBJECTS:tavolen_core>
)
target_include_directories(hid_backend_win32_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(hid_backend_win32_tests PRIVATE Threads::Threads ${TAVOLEN_SYSTEM_LIBS}
                      GTest::gtest_main)
gtest_discover_tests(hid_backend_win32_tests DISCOVERY_TIMEOUT 30 ${test_properties})

# The view's message loop, with the remote's shutdown counted.
add_executable(sensor_view_win32_tests
  sensor_view_win32_test.cpp
  ${PROJECT_SOURCE_DIR}/view/sensor_view_win32.cpp
)
target_link_libraries(sensor_view_win32_tests PRIVATE tavolen_sim user32 gdi32 GTest::gtest_main)
gtest_discover_tests(sensor_view_win32_tests DISCOVERY_TIMEOUT 30 ${window_test_properties})

# The end-to-end tests run the Windows programs under Wine on an Xvfb of
# each test's own, with the harness of the Linux end-to-end tests built for
# this machine as a project of its own.
add_executable(win-probe wine/win_probe.cpp)

add_test(NAME WineSessionStarts COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh start ${CMAKE_BINARY_DIR})
add_test(NAME WineSessionEnds COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh stop ${CMAKE_BINARY_DIR})
set_tests_properties(WineSessionStarts PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 120)
set_tests_properties(WineSessionEnds PROPERTIES FIXTURES_CLEANUP wine_session)

include(ExternalProject)
ExternalProject_Add(wine_e2e
  SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/wine
  BINARY_DIR ${CMAKE_BINARY_DIR}/wine-e2e
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DTAVOLEN_SIM_EXE=$<TARGET_FILE:tavolen-sim>
    -DTAVOLEN_EXE=$<TARGET_FILE:tavolen>
    -DWIN_PROBE_EXE=$<TARGET_FILE:win-probe>
    -DTAVOLEN_VERSION=${PROJECT_VERSION}
    -DWINE_RUNNER=${PROJECT_SOURCE_DIR}/scripts/wine-session.sh|exec|${CMAKE_BINARY_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  DEPENDS tavolen tavolen-sim win-probe
)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/wine-e2e/CTestTestfile.cmake)

# The installer, installed silently under Wine, runs; its uninstaller removes it.
add_test(NAME InstallerInstallsRunsAndUninstalls
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installer_test.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(InstallerInstallsRunsAndUninstalls PROPERTIES
  FIXTURES_REQUIRED wine_session RESOURCE_LOCK wine_programs TIMEOUT 300)

# The kernel tier's Windows rows (kernel/rows.txt): tavolen.exe on Wine's HID
# stack in Debian's kernel under qemu, against tavolen-virtual-remote of the
# Linux build in TAVOLEN_LINUX_BUILD. Alone, as it keeps both processors busy.
set(TAVOLEN_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build CACHE PATH "The Linux build whose virtual remote the Windows rows use")
add_test(NAME KernelTierWine
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kernel/kernel_tier.sh --windows ${CMAKE_BINARY_DIR} ${TAVOLEN_LINUX_BUILD})
set_tests_properties(KernelTierWine PROPERTIES
  LABELS kernel TIMEOUT 300 RUN_SERIAL TRUE FIXTURES_REQUIRED wine_session)
