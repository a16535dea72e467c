// Reading an executable's resource tree and writing a new resource section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

namespace plombundle {

// A resource type or name: a number, or a string (stored as Windows compares it, in
// upper case).
struct ResId {
    bool isName = false;
    uint16_t id = 0;
    std::u16string name;
};

struct Resource {
    ResId type;
    ResId name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Named entries sort before numbered ones, names by UTF-16 code units, as the loader's
// binary search expects.
bool ResIdLess(const ResId &a, const ResId &b);
bool ResIdEqual(const ResId &a, const ResId &b);
ResId ResNumber(uint16_t id);
ResId ResName(const std::string &ascii);
std::string ResIdText(const ResId &id);

// Every resource of the image (the three levels type, name, language).
bool ReadResources(const PeImage &img, std::vector<Resource> &out, std::string &error);
// The contents of a resource section placed at sectionRva; resources may be in any
// order and must not repeat (type, name, language).
bool BuildResourceSection(std::vector<Resource> &resources, uint32_t sectionRva,
                          std::vector<uint8_t> &section, std::string &error);

} // namespace plombundle
