# Protocol codecs (both directions), the HiSLIP client and the LAN VISA resource-name parser.
quarnel_add_fuzzer(fuzz_protocol_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_protocol_server.cpp LIBS quarnel_protocol)
quarnel_add_fuzzer(fuzz_protocol_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_protocol_client.cpp LIBS quarnel_protocol)
quarnel_add_fuzzer(fuzz_rsrc_name SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_rsrc_name.cpp LIBS quarnel_lanvisa_core)
quarnel_add_fuzzer(fuzz_hislip_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_hislip_server.cpp LIBS quarnel_protocol)
quarnel_add_fuzzer(fuzz_hislip_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_hislip_client.cpp LIBS quarnel_lanvisa_core)
