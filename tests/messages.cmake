# The message catalogue: every text in Chinese and English, the event names, the link state.
praxon_add_test(tst_messages SOURCES tst_messages.cpp LIBS praxon_messages)
