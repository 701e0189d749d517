// What WriteText sent to standard output, and the first error there: the
// bookkeeping both platform layers share.
#include "sys/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sys/platform.h"

namespace platform {

namespace {

bool g_wrote_standard_output = false;
int g_standard_output_error = 0;

void NoteError(int error) {
    if (g_standard_output_error == 0) g_standard_output_error = error != 0 ? error : EIO;
}

}  // namespace

void NoteStandardOutput(bool written) {
    g_wrote_standard_output = true;
    if (!written) NoteError(errno);
}

bool StandardOutputDelivered(std::string& cause) {
    if (!g_wrote_standard_output) return true;
    if (std::fflush(stdout) != 0) NoteError(errno);
    if (std::ferror(stdout) != 0) NoteError(EIO);
    if (g_standard_output_error == 0) return true;
    cause = std::strerror(g_standard_output_error);
    return false;
}

}  // namespace platform
