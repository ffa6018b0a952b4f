# Sanitizer build and fuzzing.
.PHONY: test-sanitize test-fuzz fuzz
test-sanitize:
test-fuzz:
fuzz:
