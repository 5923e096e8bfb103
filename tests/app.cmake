# The window: settings, help, and the window driven against the simulator.
if(TARGET praxon_app)
    praxon_add_test(tst_settings SOURCES tst_settings.cpp LIBS praxon_app)
endif()
if(TARGET praxon AND TARGET praxon_sim)
    praxon_add_test(tst_mainform SOURCES tst_mainform.cpp
        LIBS praxon_app praxon_sim TIMEOUT 300)
endif()
# Not a test: takes the README's screenshot (tools/screenshot.sh).
if(TARGET praxon AND TARGET praxon_sim)
    add_executable(praxon_window_screenshot ${PROJECT_SOURCE_DIR}/tools/window_screenshot.cpp)
    target_link_libraries(praxon_window_screenshot PRIVATE praxon_app praxon_sim)
endif()
