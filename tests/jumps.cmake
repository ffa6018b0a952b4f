# Suites of the jumps area.
onset_add_test(test_jumps SOURCES test_jumps_examples.cpp test_jumps_random.cpp
               test_jumps_batch.cpp COST 25)
onset_add_test(test_jumps_paths SOURCES test_jumps_paths.cpp INTERNAL)
