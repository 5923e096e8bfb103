# End-to-end: the engine with the real serial port against the simulated board on a pty, and
# praxon-cli against praxon-sim as processes (found beside the test in bin/).
# praxon_testkit (RecordingHost) comes from link.cmake, read after this file.
if(TARGET praxon_flash AND TARGET praxon_sim)
    set(rig_libs praxon_flash praxon_link praxon_sim praxon_testkit)
    praxon_add_test(tst_integration SOURCES tst_integration.cpp LIBS ${rig_libs})
    if(TARGET praxon-cli)
        praxon_add_test(tst_cliprocess SOURCES tst_cliprocess.cpp LIBS ${rig_libs})
        add_dependencies(tst_cliprocess praxon-cli praxon-sim)
    endif()
endif()
