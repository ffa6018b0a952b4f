# Suites of the filter area.
onset_add_test(test_filter_setup SOURCES test_filter_setup.cpp)
onset_add_test(test_wavelet_family SOURCES test_wavelet_family.cpp)
onset_add_test(test_cdotx SOURCES test_cdotx.cpp)
onset_add_test(test_cdotx_paths SOURCES test_cdotx_paths.cpp INTERNAL)
onset_add_test(test_filter_decomposition SOURCES test_filter_decomposition.cpp)
