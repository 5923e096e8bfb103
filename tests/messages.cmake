# The message catalogue: every event in Chinese and English, the exact texts users and scripts rely on.
praxon_add_test(tst_messages SOURCES tst_messages.cpp LIBS praxon_messages)
