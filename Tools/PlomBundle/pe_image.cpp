#include "pe_image.h"

namespace plombundle {

namespace {

bool IsPowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }

} // namespace

bool ParsePe(std::vector<uint8_t> bytes, PeImage &img, std::string &error)
{
    img = PeImage();
    img.bytes = std::move(bytes);
    const std::vector<uint8_t> &b = img.bytes;
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') {
        error = "not a PE executable (no MZ header)";
        return false;
    }
    uint32_t peOffset = Rd32(b, 0x3c);
    if ((uint64_t)peOffset + 24 > b.size() || b[peOffset] != 'P' || b[peOffset + 1] != 'E'
        || b[peOffset + 2] != 0 || b[peOffset + 3] != 0) {
        error = "not a PE executable (no PE signature)";
        return false;
    }
    img.fileHeaderOffset = peOffset + 4;
    const size_t fh = img.fileHeaderOffset;
    img.machine = Rd16(b, fh);
    uint16_t numberOfSections = Rd16(b, fh + 2);
    img.pointerToSymbolTable = Rd32(b, fh + 8);
    uint16_t sizeOfOptionalHeader = Rd16(b, fh + 16);
    uint16_t characteristics = Rd16(b, fh + 18);
    if (!(characteristics & 0x0002)) {
        error = "not an executable image";
        return false;
    }
    if (characteristics & 0x2000) {
        error = "a DLL, not an executable";
        return false;
    }
    img.optionalHeaderOffset = fh + 20;
    const size_t oh = img.optionalHeaderOffset;
    if (oh + sizeOfOptionalHeader > b.size() || sizeOfOptionalHeader < 2) {
        error = "truncated optional header";
        return false;
    }
    uint16_t magic = Rd16(b, oh);
    size_t dirStart;
    if (magic == 0x10b) {
        dirStart = 96;
    } else if (magic == 0x20b) {
        img.pe32plus = true;
        dirStart = 112;
    } else {
        error = "unknown optional header magic";
        return false;
    }
    if (sizeOfOptionalHeader < dirStart) {
        error = "truncated optional header";
        return false;
    }
    img.sectionAlignment = Rd32(b, oh + 32);
    img.fileAlignment = Rd32(b, oh + 36);
    img.sizeOfHeaders = Rd32(b, oh + 60);
    img.numberOfRvaAndSizes = Rd32(b, oh + dirStart - 4);
    img.dataDirectoryOffset = oh + dirStart;
    if (img.numberOfRvaAndSizes > (sizeOfOptionalHeader - dirStart) / 8) {
        error = "data directory does not fit in the optional header";
        return false;
    }
    if (!IsPowerOfTwo(img.fileAlignment) || !IsPowerOfTwo(img.sectionAlignment)
        || img.fileAlignment > img.sectionAlignment || img.fileAlignment > 0x10000) {
        error = "implausible section or file alignment";
        return false;
    }
    img.sectionTableOffset = oh + sizeOfOptionalHeader;
    if (img.sectionTableOffset + (uint64_t)numberOfSections * kSectionHeaderSize > b.size()
        || img.sizeOfHeaders > b.size()) {
        error = "truncated section table";
        return false;
    }
    for (unsigned i = 0; i < numberOfSections; i++) {
        size_t s = img.sectionTableOffset + i * kSectionHeaderSize;
        PeSection sec;
        for (int c = 0; c < 8 && b[s + c]; c++)
            sec.name.push_back((char)b[s + c]);
        sec.virtualSize = Rd32(b, s + 8);
        sec.virtualAddress = Rd32(b, s + 12);
        sec.sizeOfRawData = Rd32(b, s + 16);
        sec.pointerToRawData = Rd32(b, s + 20);
        sec.characteristics = Rd32(b, s + 36);
        if (sec.sizeOfRawData && (uint64_t)sec.pointerToRawData + sec.sizeOfRawData > b.size()) {
            error = "section '" + sec.name + "' lies beyond the end of the file";
            return false;
        }
        img.sections.push_back(sec);
    }
    return true;
}

void GetDataDirectory(const PeImage &img, unsigned index, uint32_t &rva, uint32_t &size)
{
    rva = size = 0;
    if (index >= img.numberOfRvaAndSizes)
        return;
    rva = Rd32(img.bytes, img.dataDirectoryOffset + 8 * index);
    size = Rd32(img.bytes, img.dataDirectoryOffset + 8 * index + 4);
}

void SetDataDirectory(PeImage &img, unsigned index, uint32_t rva, uint32_t size)
{
    Wr32(img.bytes, img.dataDirectoryOffset + 8 * index, rva);
    Wr32(img.bytes, img.dataDirectoryOffset + 8 * index + 4, size);
}

bool RvaToOffset(const PeImage &img, uint32_t rva, uint32_t size, size_t &offset)
{
    for (const PeSection &s : img.sections) {
        if (rva >= s.virtualAddress && (uint64_t)rva + size <= (uint64_t)s.virtualAddress + s.sizeOfRawData) {
            offset = s.pointerToRawData + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

uint32_t ComputePeChecksum(const std::vector<uint8_t> &bytes, size_t checksumOffset)
{
    // The checksum field itself counts as zero.
    auto byteAt = [&](size_t i) -> uint32_t {
        if (i >= bytes.size() || (i >= checksumOffset && i < checksumOffset + 4))
            return 0;
        return bytes[i];
    };
    uint64_t sum = 0;
    size_t n = bytes.size();
    for (size_t i = 0; i < n; i += 2) {
        sum += byteAt(i) | byteAt(i + 1) << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return (uint32_t)(sum + n);
}

uint64_t EndOfSectionData(const PeImage &img)
{
    uint64_t end = img.sizeOfHeaders;
    for (const PeSection &s : img.sections)
        if (s.sizeOfRawData && (uint64_t)s.pointerToRawData + s.sizeOfRawData > end)
            end = (uint64_t)s.pointerToRawData + s.sizeOfRawData;
    return end;
}

} // namespace plombundle
