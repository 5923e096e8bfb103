# The flash operations on a fake target.
praxon_add_test(tst_engine SOURCES tst_engine.cpp LIBS praxon_testkit praxon_flash)
