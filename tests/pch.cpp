// Carries the tests' precompiled Qt and gtest headers.
