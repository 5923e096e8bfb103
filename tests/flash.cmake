# The flash operations on a fake target, and on the simulated board through a real pty.
praxon_add_test(tst_engine SOURCES tst_engine.cpp LIBS praxon_testkit praxon_flash)
praxon_add_test(tst_flashformat SOURCES tst_flashformat.cpp LIBS praxon_flash)
if(TARGET praxon_sim)
    praxon_add_test(tst_qtserialport SOURCES tst_qtserialport.cpp
        LIBS praxon_testkit praxon_flash praxon_sim TIMEOUT 120)
endif()
praxon_add_test(tst_wordaligner SOURCES tst_wordaligner.cpp LIBS praxon_flash)
