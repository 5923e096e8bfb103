# End-to-end: the engine with the real serial port against the simulated board on a pty.
# praxon_testkit (RecordingHost) comes from link.cmake, read after this file.
if(TARGET praxon_flash AND TARGET praxon_sim)
    add_library(praxon_integration_rig STATIC tst_integration_rig.h tst_integration_rig.cpp)
    target_include_directories(praxon_integration_rig PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(praxon_integration_rig PUBLIC praxon_flash praxon_link praxon_sim
        praxon_testkit Qt6::Core Qt6::Test)
    praxon_add_test(tst_integration SOURCES tst_integration.cpp LIBS praxon_integration_rig
        TIMEOUT 300)
    # praxon-cli and praxon-sim as processes; the test finds both beside itself in bin/.
    if(TARGET praxon-cli)
        praxon_add_test(tst_cliprocess SOURCES tst_cliprocess.cpp LIBS praxon_integration_rig
            TIMEOUT 300)
        add_dependencies(tst_cliprocess praxon-cli praxon-sim)
    endif()
endif()
