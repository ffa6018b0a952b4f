# The fuzz targets, in ONSET_FUZZ_TARGETS: each folder of committed inputs in
# corpus/ names one, built from fuzz_<name>.cpp.
file(GLOB ONSET_FUZZ_TARGETS LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_LIST_DIR}/corpus
     ${CMAKE_CURRENT_LIST_DIR}/corpus/*)
list(SORT ONSET_FUZZ_TARGETS)
