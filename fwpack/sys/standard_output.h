// What the platform layers tell about their writes to standard output, so
// that StandardOutputDelivered (platform.h) can say whether all of it arrived.
#pragma once

namespace platform {

// WriteText wrote to standard output; when not `written`, errno says why.
void NoteStandardOutput(bool written);

}  // namespace platform
