# cmake -DIN=devices.tsv -DOUT=file.cpp -P EmbedTable.cmake: the device table as bytes in C++.
file(READ "${IN}" content HEX)
string(LENGTH "${content}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE "${OUT}" "// Generated from devices.tsv by EmbedTable.cmake; do not edit.\n"
    "namespace praxon {\n"
    "extern const unsigned char kDeviceTableText[];\n"
    "extern const unsigned long kDeviceTableSize;\n"
    "const unsigned char kDeviceTableText[] = {\n${bytes}0};\n"
    "const unsigned long kDeviceTableSize = ${size};\n"
    "}  // namespace praxon\n")
