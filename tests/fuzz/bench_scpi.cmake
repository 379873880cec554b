# SCPI parser and instrument engines of the simulated bench (bench/scpi.h).
quarnel_add_fuzzer(fuzz_bench_scpi SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_bench_scpi.cpp LIBS quarnel_benchlib)
