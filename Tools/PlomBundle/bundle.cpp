#include "bundle.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PlomStubResources.h"
#include "pe_image.h"
#include "resources.h"

namespace plombundle {

namespace {

namespace fs = std::filesystem;

const uint16_t kRtRcdata = STUB_RESOURCE_TYPE_RCDATA;
const uint16_t kLanguage = STUB_RESOURCE_LANGUAGE;

// Every path and name inside the tool is UTF-8, also on Windows.
fs::path U8(const std::string &s)
{
    return fs::u8path(s);
}

bool ReadFile(const std::string &path, std::vector<uint8_t> &data, std::string &error)
{
    std::error_code ec;
    if (fs::is_directory(U8(path), ec)) {
        error = "'" + path + "' is a directory";
        return false;
    }
    std::ifstream in(U8(path), std::ios::binary);
    if (!in) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || (uint64_t)size > 0x7fffffffu) {
        error = "'" + path + "' is too large (at most 2 GiB)";
        return false;
    }
    data.resize((size_t)size);
    if (size && !in.read(reinterpret_cast<char *>(data.data()), size)) {
        error = "cannot read '" + path + "'";
        return false;
    }
    return true;
}

std::string Format(const char *fmt, unsigned index)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, index);
    return buf;
}

// Index of a "HDR_nn"-style name (prefix, then only digits), or -1.
bool IsIndexedName(const std::u16string &name, const char *prefix)
{
    size_t n = std::strlen(prefix);
    if (name.size() <= n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (name[i] != (char16_t)prefix[i])
            return false;
    for (size_t i = n; i < name.size(); i++)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    return true;
}

bool ValidUtf8(const std::string &s)
{
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = (unsigned char)s[i];
        unsigned len = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
        if (!len || i + len > s.size())
            return false;
        uint32_t cp = len == 1 ? c : c & (0x7f >> len);
        for (unsigned k = 1; k < len; k++) {
            unsigned char cc = (unsigned char)s[i + k];
            if ((cc & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += len;
    }
    return true;
}

// The stub joins this name to its extraction directory, so it must be a plain file name.
bool CheckFileName(const std::string &name, std::string &error)
{
    if (name.empty()) {
        error = "empty file name";
        return false;
    }
    if (name.size() > STUB_FILE_NAME_SIZE - 1) {
        error = "file name '" + name + "' is " + std::to_string(name.size())
            + " bytes long (at most " + std::to_string(STUB_FILE_NAME_SIZE - 1) + ")";
        return false;
    }
    if (!ValidUtf8(name)) {
        error = "file name '" + name + "' is not valid UTF-8";
        return false;
    }
    if (name == "." || name == "..") {
        error = "file name '" + name + "' names a directory";
        return false;
    }
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("<>:\"/\\|?*", c)) {
            error = "file name '" + name + "' contains a character not allowed in Windows file names";
            return false;
        }
    if (name.back() == '.' || name.back() == ' ') {
        error = "file name '" + name + "' ends in a dot or a space, which Windows drops";
        return false;
    }
    return true;
}

bool CheckResourceName(const std::string &name, std::string &error)
{
    if (name.empty()) {
        error = "empty resource name";
        return false;
    }
    if (name.size() > STUB_RESOURCE_NAME_SIZE - 1) {
        error = "resource name '" + name + "' is " + std::to_string(name.size())
            + " characters long (at most " + std::to_string(STUB_RESOURCE_NAME_SIZE - 1) + ")";
        return false;
    }
    // '#' at the start would make Windows read the name as a resource number.
    if (name[0] == '#') {
        error = "resource name '" + name + "' starts with '#'";
        return false;
    }
    for (unsigned char c : name)
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.')) {
            error = "resource name '" + name + "' may contain only letters, digits, '_', '-' and '.'";
            return false;
        }
    return true;
}

} // namespace

bool ParseArch(const std::string &text, uint32_t &arch)
{
    std::string lower;
    for (char c : text)
        lower.push_back((char)std::tolower((unsigned char)c));
    if (lower == "any") { arch = PKG_ARCH_ANY; return true; }
    if (lower == "x86") { arch = PKG_ARCH_X86; return true; }
    if (lower == "amd64") { arch = PKG_ARCH_AMD64; return true; }
    if (lower.empty())
        return false;
    int base = 10;
    size_t i = 0;
    if (lower.size() > 2 && lower[0] == '0' && lower[1] == 'x') {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < lower.size(); i++) {
        int d = std::isdigit((unsigned char)lower[i]) ? lower[i] - '0'
              : base == 16 && lower[i] >= 'a' && lower[i] <= 'f' ? lower[i] - 'a' + 10 : -1;
        if (d < 0)
            return false;
        v = v * base + d;
        if (v > 0xffffffffu)
            return false;
    }
    arch = (uint32_t)v;
    return true;
}

bool BuildBundle(const BundleRequest &request, std::vector<uint8_t> &output, std::string &error)
{
    if (request.packages.size() > 255) {
        error = "too many packages (" + std::to_string(request.packages.size()) + ", at most 255)";
        return false;
    }
    if (request.manifestCount > 255) {
        error = "manifest count over 255";
        return false;
    }

    std::vector<uint8_t> stubBytes;
    std::string why;
    if (!ReadFile(request.stubPath, stubBytes, why)) {
        error = "stub: " + why;
        return false;
    }
    PeImage img;
    if (!ParsePe(std::move(stubBytes), img, why)) {
        error = "stub '" + request.stubPath + "': " + why;
        return false;
    }
    uint32_t secRva, secSize;
    GetDataDirectory(img, kDirSecurity, secRva, secSize);
    if (secRva || secSize) {
        error = "stub '" + request.stubPath + "' is signed; bundle the unsigned stub and sign the result";
        return false;
    }
    if (img.numberOfRvaAndSizes <= kDirResource) {
        error = "stub '" + request.stubPath + "' has no resource directory entry in its headers";
        return false;
    }
    if (img.pointerToSymbolTable) {
        error = "stub '" + request.stubPath + "' carries a COFF symbol table; strip it first";
        return false;
    }
    if (EndOfSectionData(img) < img.bytes.size()) {
        error = "stub '" + request.stubPath + "' has " + std::to_string(img.bytes.size() - EndOfSectionData(img))
            + " bytes of data after its last section";
        return false;
    }

    std::vector<Resource> resources;
    if (!ReadResources(img, resources, why)) {
        error = "stub '" + request.stubPath + "': " + why;
        return false;
    }
    for (const Resource &r : resources)
        if (!r.type.isName && r.type.id == kRtRcdata && r.name.isName
            && (r.name.name == ResName(STUB_MANIFEST_NAME).name || IsIndexedName(r.name.name, "HDR_"))) {
            error = "stub '" + request.stubPath + "' already holds packages (resource " + ResIdText(r.name)
                + "); use the stub without packages";
            return false;
        }

    // Package resources: headers and payloads, checked before anything is read.
    std::vector<Resource> added;
    StubManifest manifest{};
    std::memcpy(manifest.magic, STUB_MANIFEST_MAGIC, sizeof STUB_MANIFEST_MAGIC);
    manifest.packageCount = (uint8_t)(request.manifestCount >= 0 ? request.manifestCount : (int)request.packages.size());
    Resource mres;
    mres.type = ResNumber(kRtRcdata);
    mres.name = ResName(STUB_MANIFEST_NAME);
    mres.language = kLanguage;
    mres.data.assign(reinterpret_cast<uint8_t *>(&manifest), reinterpret_cast<uint8_t *>(&manifest) + sizeof manifest);
    added.push_back(std::move(mres));

    for (size_t i = 0; i < request.packages.size(); i++) {
        const PackageEntry &p = request.packages[i];
        std::string what = "package #" + std::to_string(i) + " ('" + p.path + "'): ";
        if (!p.archGiven) {
            error = what + "no architecture given";
            return false;
        }
        std::string fileName = p.fileName.empty() ? U8(p.path).filename().u8string() : p.fileName;
        std::string resName = p.resourceName.empty() ? Format(STUB_PAYLOAD_NAME_FORMAT, (unsigned)i) : p.resourceName;
        if (!CheckFileName(fileName, why) || !CheckResourceName(resName, why)) {
            error = what + why;
            return false;
        }
        ResId payloadId = ResName(resName);
        if (payloadId.name == ResName(STUB_MANIFEST_NAME).name || IsIndexedName(payloadId.name, "HDR_")) {
            error = what + "resource name '" + resName + "' is reserved for the manifest and headers";
            return false;
        }
        for (const Resource &r : resources)
            if (!r.type.isName && r.type.id == kRtRcdata && ResIdEqual(r.name, payloadId)) {
                error = what + "the stub already has a resource named '" + resName + "'";
                return false;
            }
        for (size_t k = 0; k < i; k++) {
            const PackageEntry &q = request.packages[k];
            std::string other = q.resourceName.empty() ? Format(STUB_PAYLOAD_NAME_FORMAT, (unsigned)k) : q.resourceName;
            if (ResName(other).name == payloadId.name) {
                error = what + "resource name '" + resName + "' is used by package #" + std::to_string(k) + " too";
                return false;
            }
        }

        StubPackageHeader hdr{};
        for (size_t c = 0; c < payloadId.name.size(); c++)
            hdr.resourceName[c] = (char)payloadId.name[c];
        std::memcpy(hdr.fileName, fileName.data(), fileName.size());
        Resource h;
        h.type = ResNumber(kRtRcdata);
        h.name = ResName(Format(STUB_HEADER_NAME_FORMAT, (unsigned)i));
        h.language = kLanguage;
        const uint8_t *hb = reinterpret_cast<const uint8_t *>(&hdr);
        h.data.assign(hb, hb + sizeof hdr);
        Wr32(h.data, 0, p.arch); // little-endian whatever the build host is
        added.push_back(std::move(h));

        std::vector<uint8_t> payload;
        if (!ReadFile(p.path, payload, why)) {
            error = what + why;
            return false;
        }
        if (!p.omitPayload) {
            Resource b;
            b.type = ResNumber(kRtRcdata);
            b.name = payloadId;
            b.language = kLanguage;
            b.data = std::move(payload);
            added.push_back(std::move(b));
        }
    }
    for (Resource &r : added)
        resources.push_back(std::move(r));

    // The new resource section goes last: in place of the old one when that is already
    // the last section, otherwise appended (the old one then stays as unused bytes).
    uint32_t oldRsrcRva, oldRsrcSize;
    GetDataDirectory(img, kDirResource, oldRsrcRva, oldRsrcSize);
    size_t sectionCount = img.sections.size();
    bool replaceLast = false;
    if (sectionCount && oldRsrcRva) {
        const PeSection &last = img.sections.back();
        bool holdsDir = oldRsrcRva >= last.virtualAddress
            && oldRsrcRva < (uint64_t)last.virtualAddress + std::max(last.virtualSize, last.sizeOfRawData);
        bool lastInMemory = true, lastInFile = true;
        for (size_t i = 0; i + 1 < sectionCount; i++) {
            lastInMemory &= img.sections[i].virtualAddress < last.virtualAddress;
            lastInFile &= !img.sections[i].sizeOfRawData
                || img.sections[i].pointerToRawData + (uint64_t)img.sections[i].sizeOfRawData <= last.pointerToRawData;
        }
        // Nothing but the resources may live there, or dropping it would lose data.
        bool onlyResources = true;
        for (unsigned d = 0; d < img.numberOfRvaAndSizes; d++) {
            uint32_t rva, size;
            GetDataDirectory(img, d, rva, size);
            if (d != kDirResource && d != kDirSecurity && rva && rva >= last.virtualAddress
                && rva < (uint64_t)last.virtualAddress + std::max(last.virtualSize, last.sizeOfRawData))
                onlyResources = false;
        }
        replaceLast = holdsDir && lastInMemory && lastInFile && onlyResources && last.sizeOfRawData;
    }
    size_t keptSections = replaceLast ? sectionCount - 1 : sectionCount;
    if (!replaceLast) {
        uint64_t tableEnd = img.sectionTableOffset + (uint64_t)(sectionCount + 1) * kSectionHeaderSize;
        uint64_t firstRaw = img.sizeOfHeaders;
        for (const PeSection &s : img.sections)
            if (s.sizeOfRawData && s.pointerToRawData < firstRaw)
                firstRaw = s.pointerToRawData;
        uint32_t biRva, biSize;
        GetDataDirectory(img, kDirBoundImport, biRva, biSize);
        if (tableEnd > firstRaw || (biRva && biRva < tableEnd)) {
            error = "stub '" + request.stubPath + "' has no room in its headers for another section";
            return false;
        }
        if (sectionCount >= 96) {
            error = "stub '" + request.stubPath + "' has too many sections";
            return false;
        }
    }
    // The packages' section starts on a page boundary in the file as well as in memory, so
    // that a loader can map it straight from the file and page it in as it is read;
    // otherwise (wine does this) the whole section is copied into memory at start-up.
    uint64_t const rawAlignment = std::max<uint64_t>(img.fileAlignment, std::min<uint64_t>(img.sectionAlignment, 4096));
    uint64_t newRva = AlignUp(img.sizeOfHeaders, img.sectionAlignment);
    uint64_t newRaw = AlignUp(img.sizeOfHeaders, rawAlignment);
    for (size_t i = 0; i < keptSections; i++) {
        const PeSection &s = img.sections[i];
        newRva = std::max<uint64_t>(newRva, AlignUp((uint64_t)s.virtualAddress + std::max(s.virtualSize, s.sizeOfRawData), img.sectionAlignment));
        if (s.sizeOfRawData)
            newRaw = std::max<uint64_t>(newRaw, AlignUp((uint64_t)s.pointerToRawData + s.sizeOfRawData, rawAlignment));
    }
    if (newRva > 0x7fffffffu) {
        error = "stub '" + request.stubPath + "' has an implausible image size";
        return false;
    }

    std::vector<uint8_t> rsrc;
    if (!BuildResourceSection(resources, (uint32_t)newRva, rsrc, why)) {
        error = why;
        return false;
    }
    uint64_t rawSize = AlignUp(rsrc.size(), img.fileAlignment);
    uint64_t imageSize = AlignUp(newRva + rsrc.size(), img.sectionAlignment);
    if (newRaw + rawSize > 0x7fffffffu || imageSize > 0x7fffffffu) {
        error = "the bundle would be too large (over 2 GiB)";
        return false;
    }

    std::vector<uint8_t> &out = img.bytes;
    out.resize((size_t)newRaw, 0);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    out.resize((size_t)(newRaw + rawSize), 0);

    const uint32_t kRsrcCharacteristics = 0x40000040u; // initialised data, readable
    size_t sh = img.sectionTableOffset + keptSections * kSectionHeaderSize;
    std::memset(&out[sh], 0, kSectionHeaderSize);
    std::memcpy(&out[sh], ".rsrc", 5);
    Wr32(out, sh + 8, (uint32_t)rsrc.size());
    Wr32(out, sh + 12, (uint32_t)newRva);
    Wr32(out, sh + 16, (uint32_t)rawSize);
    Wr32(out, sh + 20, (uint32_t)newRaw);
    Wr32(out, sh + 36, kRsrcCharacteristics);
    Wr16(out, img.fileHeaderOffset + 2, (uint32_t)(keptSections + 1));

    const size_t oh = img.optionalHeaderOffset;
    uint64_t initData = 0;
    for (size_t i = 0; i < keptSections; i++)
        if (img.sections[i].characteristics & 0x40)
            initData += img.sections[i].sizeOfRawData;
    Wr32(out, oh + 8, (uint32_t)std::min<uint64_t>(initData + rawSize, 0xffffffffu));
    Wr32(out, oh + 56, (uint32_t)imageSize);
    SetDataDirectory(img, kDirResource, (uint32_t)newRva, (uint32_t)rsrc.size());
    Wr32(out, ChecksumOffset(img), ComputePeChecksum(out, ChecksumOffset(img)));
    output = std::move(out);
    return true;
}

bool WriteOutput(const std::string &path, const std::vector<uint8_t> &data, std::string &error)
{
    std::error_code ec;
    if (fs::is_directory(U8(path), ec)) {
        error = "output '" + path + "' is a directory";
        return false;
    }
    fs::path target = U8(path);
    fs::path temp = target;
    temp += ".partial";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot create '" + temp.u8string() + "': " + std::strerror(errno);
            return false;
        }
        out.write(reinterpret_cast<const char *>(data.data()), (std::streamsize)data.size());
        out.close();
        if (!out) {
            error = "cannot write '" + temp.u8string() + "'";
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        error = "cannot rename '" + temp.u8string() + "' to '" + path + "': " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

} // namespace plombundle
