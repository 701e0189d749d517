// The plain DFU writer: the raw binary's bytes, their CRC taken as they are
// written, and the suffix whose CRC covers them and its own first 12 bytes.
#include "dfuse/plain_dfu.h"

#include "dfuse/dfu_format.h"
#include "formats/bin_writer.h"
#include "sys/output_file.h"

bool WritePlainDfu(TextOutput& output, const ElementList& list, uint8_t pad, const DeviceIdentity& identity) {
    using namespace dfu_format;
    if (!output.IsOpen()) return false;
    uint32_t crc = 0;
    WriteBinBytes(output, list, pad, [&crc](const uint8_t* data, std::size_t size) { crc = Crc32(crc, data, size); });
    Suffix suffix = SuffixWithoutCrc(identity.vendor, identity.product, identity.release, kPlainDfuVersion);
    StoreLe32(suffix.data() + kCrcOffset, SuffixCrc(Crc32(crc, suffix.data(), kCrcOffset)));
    output.Bytes(suffix.data(), suffix.size());
    return output.Close();
}
