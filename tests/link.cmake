# The serial link: receive path, reply rules, frames, port errors, the link state and boot lines.
add_library(praxon_testkit STATIC FakePort.h RecordingHost.h RecordingHost.cpp)
target_include_directories(praxon_testkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(praxon_testkit PUBLIC praxon_messages praxon_link Qt6::Core)
praxon_add_test(tst_bootlink SOURCES tst_bootlink.cpp
    LIBS praxon_testkit praxon_flash praxon_link praxon_sim)
