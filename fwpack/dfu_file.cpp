// The DfuSe file builder.
#include "dfu_file.h"
