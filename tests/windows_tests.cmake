# The Windows tests, run under Wine: the unit tests above, the HID backend
# over a fake of its device calls, the platform layer, and the programs
# end to end.

target_sources(program_tests PRIVATE platform_win32_test.cpp)

# The Windows HID backend linked against a fake of the device calls it makes.
add_executable(hid_backend_win32_tests
  hid_backend_win32_test.cpp
  fake_win32_hid.cpp
  ${PROJECT_SOURCE_DIR}/remote/hid_backend_win32.cpp
  $<TARGET_OBJECTS:tavolen_core>
)
target_include_directories(hid_backend_win32_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(hid_backend_win32_tests PRIVATE Threads::Threads ${TAVOLEN_SYSTEM_LIBS}
                      GTest::gtest_main)
gtest_discover_tests(hid_backend_win32_tests DISCOVERY_TIMEOUT 30)
