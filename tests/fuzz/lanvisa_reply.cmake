# Formatted reads of instrument replies and the raw-socket reply scanner of
# the LAN VISA library (lanvisa/formatio.h, lanvisa/terminatorscanner.h).
quarnel_add_fuzzer(fuzz_lanvisa_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lanvisa_reply.cpp LIBS quarnel_lanvisa_core)
