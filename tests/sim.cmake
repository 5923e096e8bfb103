# The simulated board: protocol model, emulated core and pty server (stm32flash a real client).
praxon_add_test(tst_simboard SOURCES tst_simboard.cpp cortexm_programs.h LIBS praxon_sim TIMEOUT 180)
# The loader the tree builds, run on the emulated chip (skipped where the tree has none).
target_compile_definitions(tst_simboard PRIVATE
    PRAXON_LOADER_F1="${CMAKE_SOURCE_DIR}/loader/bin/loader-f1-20000200.bin")
praxon_add_test(tst_simulator SOURCES tst_simulator.cpp
    LIBS praxon_sim praxon_image Qt6::SerialPort TIMEOUT 120)
target_compile_definitions(tst_simulator PRIVATE PRAXON_SIM_EXE="$<TARGET_FILE:praxon-sim>"
    PRAXON_LINES_LIB="$<TARGET_FILE:praxon-lines>")
add_dependencies(tst_simulator praxon-sim praxon-lines)
