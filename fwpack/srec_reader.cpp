// Reads a Motorola S-record file into an image.
#include "image.h"

bool CImage::LoadSRec(const char*) { return false; }
