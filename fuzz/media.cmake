quorvel_fuzzer(fuzz_media SOURCES fuzz_media.cpp LIBS quorvel_media)
