quorvel_fuzzer(fuzz_wire SOURCES fuzz_wire.cpp LIBS quorvel_wire)
