# praxon-cli: argument parsing and the terminal host.
if(TARGET praxon_cli)
    praxon_add_test(tst_clioptions SOURCES tst_clioptions.cpp LIBS praxon_cli)
    praxon_add_test(tst_clihost SOURCES tst_clihost.cpp LIBS praxon_cli)
endif()
