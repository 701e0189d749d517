// Tests of the image's element list and its core element operations.
#include <gtest/gtest.h>

#include "image.h"
