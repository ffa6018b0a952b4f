# Suites of the kurtosis area.
onset_add_test(test_kurtosis SOURCES test_kurtosis_examples.cpp test_kurtosis_random.cpp
               test_kurtosis_batch.cpp)
onset_add_test(test_kurtosis_lanes SOURCES test_kurtosis_lanes.cpp INTERNAL)
