# The simulated board: protocol model and pty server (with stm32flash as a real client).
praxon_add_test(tst_simboard SOURCES tst_simboard.cpp LIBS praxon_sim TIMEOUT 60)
