# Trace block parsing (visa/block.h).
quarnel_add_fuzzer(fuzz_block SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_block.cpp LIBS quarnel_visa)
