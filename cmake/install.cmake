# Installation rules: header, library, CMake package and pkg-config file.
