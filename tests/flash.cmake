# The flash operations on a fake target and their texts; the word aligner and write plans.
praxon_add_test(tst_engine SOURCES tst_engine.cpp LIBS praxon_testkit praxon_flash praxon_image praxon_sim)
praxon_add_test(tst_wordaligner SOURCES tst_wordaligner.cpp LIBS praxon_flash)
praxon_add_test(tst_writeplan SOURCES tst_writeplan.cpp LIBS praxon_flash praxon_image)
praxon_add_test(tst_devices SOURCES tst_devices.cpp LIBS praxon_testkit praxon_flash praxon_image)
praxon_add_test(tst_optionbytes SOURCES tst_optionbytes.cpp LIBS praxon_devices)
praxon_add_test(tst_optionengine SOURCES tst_optionengine.cpp
    LIBS praxon_testkit praxon_flash praxon_image praxon_sim)
target_compile_definitions(tst_engine PRIVATE PRAXON_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
