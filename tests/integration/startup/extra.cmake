# A launcher without a window: the real start-up, with an owner dialog stand-in that reports the
# launch values and, on request, holds the launcher open until its standard input closes.
add_executable(startup_headless_launcher ${CMAKE_CURRENT_LIST_DIR}/launcher/headless_launcher.cpp)
target_link_libraries(startup_headless_launcher PRIVATE veltrano_core)
veltrano_warnings(startup_headless_launcher)
add_dependencies(${TEST_TARGET} startup_headless_launcher)
target_compile_definitions(${TEST_TARGET}
                           PRIVATE STARTUP_HEADLESS_LAUNCHER="$<TARGET_FILE:startup_headless_launcher>")
