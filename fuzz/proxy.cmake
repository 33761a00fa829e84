quorvel_fuzzer(fuzz_proxy SOURCES fuzz_proxy.cpp LIBS quorvel_proxy)
target_include_directories(fuzz_proxy PRIVATE ${PROJECT_SOURCE_DIR}/tests)
quorvel_fuzzer(fuzz_socks_request SOURCES fuzz_socks_request.cpp LIBS quorvel_proxy)
