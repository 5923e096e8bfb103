# The flash operations on a fake target and their texts; the word aligner.
praxon_add_test(tst_engine SOURCES tst_engine.cpp LIBS praxon_testkit praxon_flash praxon_image praxon_sim)
praxon_add_test(tst_wordaligner SOURCES tst_wordaligner.cpp LIBS praxon_flash)
