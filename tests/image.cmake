# Firmware images, Intel HEX lines read and written, hex text.
praxon_add_test(tst_firmwareimage SOURCES tst_firmwareimage.cpp LIBS praxon_image)
# Formats by content and name, the S-record and ELF readers.
praxon_add_test(tst_imageformat SOURCES tst_imageformat.cpp LIBS praxon_image)
target_compile_definitions(tst_imageformat PRIVATE PRAXON_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
