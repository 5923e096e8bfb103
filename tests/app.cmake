# The window: settings, port list, help and links, and the window driven against the simulator.
if(TARGET praxon_app)
    praxon_add_test(tst_settings SOURCES tst_settings.cpp LIBS praxon_app)
    praxon_add_test(tst_comports SOURCES tst_comports.cpp LIBS praxon_app)
    praxon_add_test(tst_helplinks SOURCES tst_helplinks.cpp LIBS praxon_app)
endif()
