# The engine against the simulated board on a pty; praxon-cli against praxon-sim as processes.
if(TARGET praxon_flash AND TARGET praxon_sim)
    # praxon_testkit (RecordingHost) comes from link.cmake, read after this file.
    set(rig_libs praxon_flash praxon_link praxon_sim praxon_testkit)
    praxon_add_test(tst_integration SOURCES tst_integration.cpp LIBS ${rig_libs})
    if(TARGET praxon-cli)
        praxon_add_test(tst_cliprocess SOURCES tst_cliprocess.cpp LIBS ${rig_libs})
        add_dependencies(tst_cliprocess praxon-cli praxon-sim)  # run from bin/ beside the test
        target_compile_definitions(tst_cliprocess PRIVATE
            PRAXON_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
        # Every family with stm32flash and praxon-cli as processes.
        praxon_add_test(tst_families SOURCES tst_families.cpp LIBS ${rig_libs})
        add_dependencies(tst_families praxon-cli)
    endif()
endif()
# The host's loader transport against the committed F1 loader on praxon-sim's emulated core. Not in
# the sanitizer build: there the emulated chip runs too slowly for the loader's line timeouts, so the
# rows would measure the sanitizer's pace instead of the transport.
if(TARGET praxon_flash AND TARGET praxon_sim AND NOT PRAXON_SANITIZE)
    praxon_add_test(tst_turbosim SOURCES tst_turbosim.cpp
        LIBS praxon_flash praxon_link praxon_sim praxon_testkit praxon_messages)
    # A compiled firmware: what the loader inflates (bench/firmware).
    target_compile_definitions(tst_turbosim PRIVATE
        PRAXON_BENCH_FIRMWARE="${CMAKE_SOURCE_DIR}/bench/firmware/meter.bin")
endif()
# praxon-cli on a production line as processes against praxon-sim.
if(TARGET praxon_flash AND TARGET praxon_sim AND TARGET praxon-cli)
    praxon_add_test(tst_cliproduction SOURCES tst_cliproduction.cpp
        LIBS praxon_flash praxon_link praxon_sim praxon_testkit)
    add_dependencies(tst_cliproduction praxon-cli praxon-sim)
endif()
