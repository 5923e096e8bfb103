# cmake -DIN=devices.tsv -DOUT=file.cpp [-DSYMBOL=kDeviceTable] -P EmbedTable.cmake: a data
# table as bytes in C++, as SYMBOL##Text and SYMBOL##Size.
if(NOT SYMBOL)
    set(SYMBOL kDeviceTable)
endif()
get_filename_component(source "${IN}" NAME)
file(READ "${IN}" content HEX)
string(LENGTH "${content}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE "${OUT}" "// Generated from ${source} by EmbedTable.cmake; do not edit.\n"
    "namespace praxon {\n"
    "extern const unsigned char ${SYMBOL}Text[];\n"
    "extern const unsigned long ${SYMBOL}Size;\n"
    "const unsigned char ${SYMBOL}Text[] = {\n${bytes}0};\n"
    "const unsigned long ${SYMBOL}Size = ${size};\n"
    "}  // namespace praxon\n")
