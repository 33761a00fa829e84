# The media sources are compiled into the target itself so that libFuzzer sees their coverage.
quorvel_fuzzer(fuzz_media
  SOURCES fuzz_media.cpp
          ${PROJECT_SOURCE_DIR}/src/media/field_format.cpp
          ${PROJECT_SOURCE_DIR}/src/media/title_parser.cpp
          ${PROJECT_SOURCE_DIR}/src/media/utf8_text.cpp
  LIBS quorvel_wire)
