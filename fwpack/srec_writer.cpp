// Writes an image as a Motorola S-record file.
#include "image.h"

bool CImage::SaveSRec(const char*) const { return false; }
