// Just enough of the PE/COFF format to replace an executable's resources: headers,
// section table, data directories and the image checksum. PE32 and PE32+.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plombundle {

enum : unsigned {
    kDirSecurity = 4,
    kDirResource = 2,
    kDirBoundImport = 11,
    kSectionHeaderSize = 40,
};

struct PeSection {
    std::string name;
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t characteristics = 0;
};

struct PeImage {
    std::vector<uint8_t> bytes;
    bool pe32plus = false;
    uint16_t machine = 0;
    size_t fileHeaderOffset = 0;     // the COFF header, just after "PE\0\0"
    size_t optionalHeaderOffset = 0;
    size_t sectionTableOffset = 0;
    size_t dataDirectoryOffset = 0;
    uint32_t numberOfRvaAndSizes = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t pointerToSymbolTable = 0;
    std::vector<PeSection> sections;
};

inline uint16_t Rd16(const std::vector<uint8_t> &b, size_t o) { return (uint16_t)(b[o] | b[o + 1] << 8); }
inline uint32_t Rd32(const std::vector<uint8_t> &b, size_t o)
{
    return (uint32_t)b[o] | (uint32_t)b[o + 1] << 8 | (uint32_t)b[o + 2] << 16 | (uint32_t)b[o + 3] << 24;
}
inline void Wr16(std::vector<uint8_t> &b, size_t o, uint32_t v) { b[o] = (uint8_t)v; b[o + 1] = (uint8_t)(v >> 8); }
inline void Wr32(std::vector<uint8_t> &b, size_t o, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[o + i] = (uint8_t)(v >> (8 * i));
}
inline uint64_t AlignUp(uint64_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Checks the headers and the section table; takes the bytes over.
bool ParsePe(std::vector<uint8_t> bytes, PeImage &img, std::string &error);
// A data directory entry; rva and size are 0 when the directory has no such entry.
void GetDataDirectory(const PeImage &img, unsigned index, uint32_t &rva, uint32_t &size);
void SetDataDirectory(PeImage &img, unsigned index, uint32_t rva, uint32_t size);
// File offset of the range [rva, rva + size) when it lies in one section's file data.
bool RvaToOffset(const PeImage &img, uint32_t rva, uint32_t size, size_t &offset);
// Offset of the optional header's CheckSum field (the same for PE32 and PE32+).
inline size_t ChecksumOffset(const PeImage &img) { return img.optionalHeaderOffset + 64; }
// The image checksum as the loader and the signing tools compute it.
uint32_t ComputePeChecksum(const std::vector<uint8_t> &bytes, size_t checksumOffset);
// Where the file data of the sections ends; anything after it is an overlay.
uint64_t EndOfSectionData(const PeImage &img);

} // namespace plombundle
