quorvel_fuzzer(fuzz_settings SOURCES fuzz_settings.cpp LIBS quorvel_settings)
