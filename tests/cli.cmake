# praxon-cli: argument parsing, the terminal host and Ctrl+C.
if(TARGET praxon_cli)
    praxon_add_test(tst_clioptions SOURCES tst_clioptions.cpp LIBS praxon_cli)
    praxon_add_test(tst_clihost SOURCES tst_clihost.cpp LIBS praxon_cli)
    praxon_add_test(tst_clistopsignal SOURCES tst_clistopsignal.cpp LIBS praxon_cli)
endif()
