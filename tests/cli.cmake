# praxon-cli: argument parsing, the terminal host and Ctrl+C.
if(TARGET praxon_cli)
    praxon_add_test(tst_cli SOURCES tst_cli.cpp LIBS praxon_cli)
endif()
