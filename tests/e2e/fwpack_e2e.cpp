// End-to-end tests of the converter.
#include <gtest/gtest.h>
