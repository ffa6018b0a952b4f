# Suites of the picker area.
onset_add_test(test_captures SOURCES
  test_captures.cpp
  test_captures_random.cpp
  test_captures_golden.cpp
  test_captures_large.cpp
  COST 15)
