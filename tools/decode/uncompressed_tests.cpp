// Uncompressed walk tests.
#include "test_support.hpp"
