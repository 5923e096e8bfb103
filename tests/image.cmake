# Intel HEX reader and writer, hex text helpers, firmware images.
praxon_add_test(tst_intelhexreader SOURCES tst_intelhexreader.cpp LIBS praxon_image praxon_messages)
praxon_add_test(tst_intelhexwriter SOURCES tst_intelhexwriter.cpp LIBS praxon_image praxon_messages)
praxon_add_test(tst_hextext SOURCES tst_hextext.cpp LIBS praxon_image praxon_messages)
praxon_add_test(tst_firmwareimage SOURCES tst_firmwareimage.cpp LIBS praxon_image praxon_messages)
praxon_add_test(tst_imageformat SOURCES tst_imageformat.cpp LIBS praxon_image praxon_linespeeds)
