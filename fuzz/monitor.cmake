quorvel_fuzzer(fuzz_monitor SOURCES fuzz_monitor.cpp LIBS quorvel_monitor)
