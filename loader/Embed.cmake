# The turbo loader's committed binaries (loader/bin/loader-<family>-<load address>.bin) as bytes
# in C++, so building Praxon needs no cross compiler.
#   include(loader/Embed.cmake); praxon_embed_loader(<target>)
#     adds the generated LoaderBinaries.cpp to <target>; src/flash/LoaderImage.h declares it.
#   cmake -DBIN_DIR=<loader/bin> -DOUT=<file.cpp> -P Embed.cmake   (the generating step)
if(CMAKE_SCRIPT_MODE_FILE)
    # Appends the file's bytes to `arrays` as the array `name`; its size in bytes to `size_var`.
    macro(embed_bytes binary name size_var)
        file(READ "${binary}" content HEX)
        string(LENGTH "${content}" digits)
        math(EXPR ${size_var} "${digits} / 2")
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
        string(APPEND arrays "const unsigned char ${name}[] = {${bytes}};\n")
    endmacro()
    file(GLOB binaries "${BIN_DIR}/loader-*.bin")
    list(SORT binaries)
    set(arrays "")
    set(rows "")
    set(index 0)
    foreach(binary ${binaries})
        get_filename_component(name "${binary}" NAME_WE)
        if(NOT name MATCHES "^loader-(f[0-9])-([0-9a-f]+)$")
            message(FATAL_ERROR "unexpected loader binary name: ${name}")
        endif()
        string(TOUPPER "${CMAKE_MATCH_1}" family)
        set(address "0x${CMAKE_MATCH_2}")
        embed_bytes("${binary}" "kLoader${index}" size)
        string(APPEND rows "    {LoaderFamily::${family}, ${address}u, kLoader${index}, ${size}u},\n")
        math(EXPR index "${index} + 1")
    endforeach()
    # The first stages of the two-stage start (stage-<family>.bin).
    file(GLOB stages "${BIN_DIR}/stage-*.bin")
    list(SORT stages)
    set(stageRows "")
    set(stageCount 0)
    foreach(binary ${stages})
        get_filename_component(name "${binary}" NAME_WE)
        if(NOT name MATCHES "^stage-(f[0-9])$")
            message(FATAL_ERROR "unexpected stage binary name: ${name}")
        endif()
        string(TOUPPER "${CMAKE_MATCH_1}" family)
        embed_bytes("${binary}" "kStage${stageCount}" size)
        string(APPEND stageRows "    {LoaderFamily::${family}, kStage${stageCount}, ${size}u},\n")
        math(EXPR stageCount "${stageCount} + 1")
    endforeach()
    if(stageCount EQUAL 0)
        set(stageRows "    {LoaderFamily::F1, nullptr, 0u},\n")
    endif()
    file(WRITE "${OUT}" "// Generated from loader/bin by loader/Embed.cmake; do not edit.\n"
        "#include \"LoaderImage.h\"\n#include \"LoaderStage.h\"\n"
        "namespace praxon::flash {\nnamespace {\n${arrays}}  // namespace\n"
        "const LoaderBinary kLoaderBinaries[] = {\n${rows}};\n"
        "const std::size_t kLoaderBinaryCount = ${index};\n"
        "const StageBinary kStageBinaries[] = {\n${stageRows}};\n"
        "const std::size_t kStageBinaryCount = ${stageCount};\n"
        "}  // namespace praxon::flash\n")
    return()
endif()

set(PRAXON_LOADER_DIR ${CMAKE_CURRENT_LIST_DIR})

function(praxon_embed_loader target)
    file(GLOB binaries ${PRAXON_LOADER_DIR}/bin/loader-*.bin ${PRAXON_LOADER_DIR}/bin/stage-*.bin)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/LoaderBinaries.cpp)
    add_custom_command(OUTPUT ${generated}
        COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${PRAXON_LOADER_DIR}/bin -DOUT=${generated}
            -P ${PRAXON_LOADER_DIR}/Embed.cmake
        DEPENDS ${binaries} ${PRAXON_LOADER_DIR}/Embed.cmake
        COMMENT "Embedding the turbo loader binaries" VERBATIM)
    target_sources(${target} PRIVATE ${generated})
    # A binary added or removed changes the list: configure again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PRAXON_LOADER_DIR}/bin)
endfunction()
