# The turbo loader: its engine (loader/src, plain C) built for the host on a fake chip, and the
# embedded binaries.
enable_language(C)
find_package(ZLIB REQUIRED)
add_library(praxon_loader_engine STATIC ${PROJECT_SOURCE_DIR}/loader/src/protocol.c
    ${PROJECT_SOURCE_DIR}/loader/src/inflate.c)
target_include_directories(praxon_loader_engine PUBLIC ${PROJECT_SOURCE_DIR}/loader/src)
praxon_add_test(tst_loaderprotocol SOURCES tst_loaderprotocol.cpp LoaderFakeChip.cpp
    LoaderFakeChip.h LIBS praxon_loader_engine praxon_flash ZLIB::ZLIB)
# The same engine with the LZMA decoder as well, and the same test against it.
add_library(praxon_loader_engine_lzma STATIC ${PROJECT_SOURCE_DIR}/loader/src/protocol.c
    ${PROJECT_SOURCE_DIR}/loader/src/inflate.c)
target_include_directories(praxon_loader_engine_lzma PUBLIC ${PROJECT_SOURCE_DIR}/loader/src)
target_compile_definitions(praxon_loader_engine_lzma PUBLIC LOADER_LZMA)
praxon_add_test(tst_loaderprotocol_lzma SOURCES tst_loaderprotocol.cpp LoaderFakeChip.cpp
    LoaderFakeChip.h LIBS praxon_loader_engine_lzma praxon_flash ZLIB::ZLIB)
# The host's loader transport against the loader's engine (both decoders) on the fake chip.
praxon_add_test(tst_loaderlink SOURCES tst_loaderlink.cpp LoaderFakeChip.cpp LoaderFakeChip.h
    LIBS praxon_loader_engine_lzma praxon_flash praxon_testkit)
