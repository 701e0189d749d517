// End-to-end tests of the launcher.
#include <gtest/gtest.h>
