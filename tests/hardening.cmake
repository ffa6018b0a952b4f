# Determinism across thread counts.
