// Reads an Intel HEX file into an image.
#include "image.h"

bool CImage::LoadHex(const char*) { return false; }
