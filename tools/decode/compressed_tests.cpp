// Compressed walk tests.
#include "test_support.hpp"
