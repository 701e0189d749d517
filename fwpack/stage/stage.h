// The image stage: a target's elements rewritten by a StageJob, step by
// step in a fixed order (crop, exclude, offset, fill, align, page padding,
// then the insertions in the order given), each step one pass over the
// elements in address order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "model/element_list.h"
#include "stage/stage_job.h"
#include "util/error.h"

struct StagedList {
    std::unique_ptr<ElementList> list;  // in address order
    std::vector<InsertedValue> inserted;
};

// Runs `job` on the elements of `list`, the image of `path` (named by the
// hole limit's message) for alternate setting `alternate` (whose layout
// --pad-pages takes). False with the error that says why; nothing of
// `list` changes either way.
bool RunStage(const ElementList& list, const StageJob& job, uint8_t alternate, const std::string& path,
              StagedList& staged, Error& error);

// The same for an image: a new image with the same alternate setting and
// name. Null with the error; the values written go to `inserted` when given.
std::unique_ptr<CImage> StageImage(const CImage& image, const StageJob& job, const std::string& path,
                                   std::vector<InsertedValue>* inserted, Error& error);

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no
// reflection, no final XOR) carried on from `crc` over `size` bytes, each fed
// as it stands.
uint32_t Crc32Mpeg2(uint32_t crc, const uint8_t* data, std::size_t size);
