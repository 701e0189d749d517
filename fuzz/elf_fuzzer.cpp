// Feeds arbitrary bytes to the ELF reader, which must never read outside
// them, and checks what it loads: elements in address order, apart from one
// another, each within the 32-bit address space, and all of them together no
// more bytes than the file holds. Build with -DFWPACK_FUZZ=ON and clang.
#include <cstdint>
#include <string>

#include "formats/elf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ElementList list;
    std::string problem;
    const bool loaded = ParseElf(data, size, list, problem);
    if (loaded == !problem.empty()) __builtin_trap();
    if (!loaded) return 0;
    uint64_t end = 0;
    uint64_t total = 0;
    for (const ImageElement& element : list) {
        if (element.size == 0 || element.address < end) __builtin_trap();
        end = uint64_t{element.address} + element.size;
        if (end > uint64_t{1} << 32) __builtin_trap();
        total += element.size;
    }
    // Segments may share file bytes, so only a bound: each of at most 65534
    // segments holds at most the file.
    if (total > uint64_t{size} * 65534) __builtin_trap();
    return 0;
}
