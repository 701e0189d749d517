// Writes an image as an Intel HEX file.
#include "image.h"

bool CImage::SaveHex(const char*) const { return false; }
