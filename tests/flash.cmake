# The flash operations on a fake target, and their pure helpers.
praxon_add_test(tst_engine SOURCES tst_engine.cpp LIBS praxon_testkit praxon_flash praxon_image)
praxon_add_test(tst_flashformat SOURCES tst_flashformat.cpp LIBS praxon_flash)
praxon_add_test(tst_wordaligner SOURCES tst_wordaligner.cpp LIBS praxon_flash)
