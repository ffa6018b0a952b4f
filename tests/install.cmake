# Installation into a temporary prefix, used by C hosts through CMake and pkg-config.
