# Determinism across thread counts. The suite sets the thread counts itself,
# so it runs once rather than under each OMP_NUM_THREADS.
add_executable(test_determinism test_determinism.cpp)
target_link_libraries(test_determinism PRIVATE onset onset_test_support GTest::gtest_main
                      OpenMP::OpenMP_CXX)
onset_reuse_gtest_header(test_determinism)
add_test(NAME determinism COMMAND test_determinism)
set_tests_properties(determinism PROPERTIES COST 15)
