# praxon-cli: argument parsing, the terminal host and Ctrl+C.
if(TARGET praxon_cli)
    praxon_add_test(tst_cli SOURCES tst_cli.cpp LIBS praxon_cli)
endif()
# praxon-cli on a production line: serial numbers, the state file, the summary and the record.
if(TARGET praxon_cli)
    praxon_add_test(tst_production SOURCES tst_production.cpp LIBS praxon_cli)
endif()
