#include "resources.h"

#include <algorithm>
#include <map>

namespace plombundle {

namespace {

const uint32_t kSubdirFlag = 0x80000000u;

struct Reader {
    const PeImage &img;
    size_t base = 0;       // file offset of the resource directory
    uint32_t size = 0;     // size of the resource directory's data
    uint32_t baseRva = 0;
    std::string &error;
    unsigned entries = 0;

    bool In(uint32_t off, uint32_t len) const { return (uint64_t)off + len <= size; }

    bool ReadId(uint32_t nameField, ResId &id)
    {
        if (!(nameField & kSubdirFlag)) {
            if (nameField > 0xffff) {
                error = "resource directory entry with an invalid number";
                return false;
            }
            id.isName = false;
            id.id = (uint16_t)nameField;
            return true;
        }
        uint32_t off = nameField & ~kSubdirFlag;
        if (!In(off, 2)) {
            error = "resource name outside the resource directory";
            return false;
        }
        uint16_t len = Rd16(img.bytes, base + off);
        if (!In(off + 2, 2u * len)) {
            error = "resource name outside the resource directory";
            return false;
        }
        id.isName = true;
        id.name.clear();
        for (uint16_t i = 0; i < len; i++)
            id.name.push_back((char16_t)Rd16(img.bytes, base + off + 2 + 2 * i));
        return true;
    }

    bool ReadDir(uint32_t off, int level, Resource &path, std::vector<Resource> &out)
    {
        if (!In(off, 16)) {
            error = "resource directory table outside the resource directory";
            return false;
        }
        unsigned count = Rd16(img.bytes, base + off + 12) + Rd16(img.bytes, base + off + 14);
        if (!In(off + 16, 8 * count)) {
            error = "resource directory entries outside the resource directory";
            return false;
        }
        for (unsigned i = 0; i < count; i++) {
            // Guards against directories that point back at themselves.
            if (++entries > 1000000) {
                error = "resource directory has too many entries";
                return false;
            }
            size_t e = base + off + 16 + 8 * i;
            uint32_t nameField = Rd32(img.bytes, e), target = Rd32(img.bytes, e + 4);
            ResId id;
            if (!ReadId(nameField, id))
                return false;
            if (level == 0)
                path.type = id;
            else if (level == 1)
                path.name = id;
            else if (id.isName) {
                error = "resource language given as a name";
                return false;
            } else
                path.language = id.id;
            bool isDir = (target & kSubdirFlag) != 0;
            if (isDir != (level < 2)) {
                error = "resource directory is not three levels deep";
                return false;
            }
            if (isDir) {
                if (!ReadDir(target & ~kSubdirFlag, level + 1, path, out))
                    return false;
                continue;
            }
            if (!In(target, 16)) {
                error = "resource data entry outside the resource directory";
                return false;
            }
            uint32_t dataRva = Rd32(img.bytes, base + target);
            uint32_t dataSize = Rd32(img.bytes, base + target + 4);
            size_t dataOff = 0;
            if (dataSize && !RvaToOffset(img, dataRva, dataSize, dataOff)) {
                error = "resource " + ResIdText(path.type) + "/" + ResIdText(path.name)
                    + " has its data outside the file";
                return false;
            }
            Resource r = path;
            r.codePage = Rd32(img.bytes, base + target + 8);
            r.data.assign(img.bytes.begin() + dataOff, img.bytes.begin() + dataOff + dataSize);
            out.push_back(std::move(r));
        }
        return true;
    }
};

void Put16(std::vector<uint8_t> &b, size_t o, uint32_t v) { Wr16(b, o, v); }
void Put32(std::vector<uint8_t> &b, size_t o, uint32_t v) { Wr32(b, o, v); }

} // namespace

bool ResIdLess(const ResId &a, const ResId &b)
{
    if (a.isName != b.isName)
        return a.isName;
    return a.isName ? a.name < b.name : a.id < b.id;
}

bool ResIdEqual(const ResId &a, const ResId &b)
{
    return a.isName == b.isName && (a.isName ? a.name == b.name : a.id == b.id);
}

ResId ResNumber(uint16_t id)
{
    ResId r;
    r.id = id;
    return r;
}

ResId ResName(const std::string &ascii)
{
    ResId r;
    r.isName = true;
    for (char c : ascii)
        r.name.push_back((char16_t)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : (unsigned char)c));
    return r;
}

std::string ResIdText(const ResId &id)
{
    if (!id.isName)
        return std::to_string(id.id);
    std::string s = "\"";
    for (char16_t c : id.name)
        s.push_back(c < 0x80 ? (char)c : '?');
    return s + "\"";
}

bool ReadResources(const PeImage &img, std::vector<Resource> &out, std::string &error)
{
    out.clear();
    uint32_t rva, size;
    GetDataDirectory(img, kDirResource, rva, size);
    if (!rva || !size)
        return true;
    Reader rd{img, 0, size, rva, error};
    if (!RvaToOffset(img, rva, size, rd.base)) {
        error = "resource directory outside the file's sections";
        return false;
    }
    Resource path;
    return rd.ReadDir(0, 0, path, out);
}

bool BuildResourceSection(std::vector<Resource> &resources, uint32_t sectionRva,
                          std::vector<uint8_t> &section, std::string &error)
{
    std::sort(resources.begin(), resources.end(), [](const Resource &a, const Resource &b) {
        if (!ResIdEqual(a.type, b.type))
            return ResIdLess(a.type, b.type);
        if (!ResIdEqual(a.name, b.name))
            return ResIdLess(a.name, b.name);
        return a.language < b.language;
    });
    for (size_t i = 1; i < resources.size(); i++) {
        const Resource &a = resources[i - 1], &b = resources[i];
        if (ResIdEqual(a.type, b.type) && ResIdEqual(a.name, b.name) && a.language == b.language) {
            error = "resource " + ResIdText(a.type) + "/" + ResIdText(a.name) + " language "
                + std::to_string(a.language) + " is given twice";
            return false;
        }
    }

    // Tree shape: type groups, and within each the name groups (runs of the sorted list).
    struct NameGroup { size_t first, count; };
    struct TypeGroup { size_t first; std::vector<NameGroup> names; };
    std::vector<TypeGroup> types;
    for (size_t i = 0; i < resources.size(); i++) {
        if (types.empty() || !ResIdEqual(resources[types.back().first].type, resources[i].type))
            types.push_back(TypeGroup{i, {}});
        auto &names = types.back().names;
        if (names.empty() || !ResIdEqual(resources[names.back().first].name, resources[i].name))
            names.push_back(NameGroup{i, 0});
        names.back().count++;
    }
    if (types.size() > 0xffff) {
        error = "too many resource types";
        return false;
    }

    // Layout: root table, type-level tables, name-level tables, strings, data entries, data.
    uint64_t off = 16 + 8 * types.size();
    std::vector<uint32_t> typeDirOff(types.size());
    for (size_t t = 0; t < types.size(); t++) {
        if (types[t].names.size() > 0xffff) {
            error = "too many resources of one type";
            return false;
        }
        typeDirOff[t] = (uint32_t)off;
        off += 16 + 8 * types[t].names.size();
    }
    std::vector<std::vector<uint32_t>> nameDirOff(types.size());
    for (size_t t = 0; t < types.size(); t++)
        for (const NameGroup &g : types[t].names) {
            nameDirOff[t].push_back((uint32_t)off);
            off += 16 + 8 * g.count;
        }
    std::map<std::u16string, uint32_t> stringOff;
    for (const Resource &r : resources)
        for (const ResId *id : {&r.type, &r.name})
            if (id->isName && !stringOff.count(id->name)) {
                if (id->name.size() > 0xffff) {
                    error = "resource name too long";
                    return false;
                }
                stringOff[id->name] = (uint32_t)off;
                off += 2 + 2 * id->name.size();
            }
    off = AlignUp(off, 8);
    uint64_t dataEntryOff = off;
    off += 16 * resources.size();
    std::vector<uint64_t> dataOff(resources.size());
    for (size_t i = 0; i < resources.size(); i++) {
        off = AlignUp(off, 8);
        dataOff[i] = off;
        off += resources[i].data.size();
    }
    if (off + sectionRva > 0x7fffffffu) {
        error = "the resources are too large for an executable";
        return false;
    }

    section.assign((size_t)off, 0);
    auto idField = [&](const ResId &id) {
        return id.isName ? kSubdirFlag | stringOff[id.name] : id.id;
    };
    auto writeTable = [&](uint64_t at, unsigned named, unsigned numbered) {
        Put16(section, at + 12, named);
        Put16(section, at + 14, numbered);
    };
    auto countNamed = [](const std::vector<const ResId *> &ids) {
        unsigned n = 0;
        for (const ResId *id : ids)
            n += id->isName;
        return n;
    };

    std::vector<const ResId *> typeIds;
    for (const TypeGroup &t : types)
        typeIds.push_back(&resources[t.first].type);
    writeTable(0, countNamed(typeIds), (unsigned)(typeIds.size() - countNamed(typeIds)));
    for (size_t t = 0; t < types.size(); t++) {
        Put32(section, 16 + 8 * t, idField(*typeIds[t]));
        Put32(section, 16 + 8 * t + 4, kSubdirFlag | typeDirOff[t]);
        std::vector<const ResId *> nameIds;
        for (const NameGroup &g : types[t].names)
            nameIds.push_back(&resources[g.first].name);
        writeTable(typeDirOff[t], countNamed(nameIds), (unsigned)(nameIds.size() - countNamed(nameIds)));
        for (size_t n = 0; n < nameIds.size(); n++) {
            uint64_t e = typeDirOff[t] + 16 + 8 * n;
            Put32(section, e, idField(*nameIds[n]));
            Put32(section, e + 4, kSubdirFlag | nameDirOff[t][n]);
            const NameGroup &g = types[t].names[n];
            writeTable(nameDirOff[t][n], 0, (unsigned)g.count);
            for (size_t l = 0; l < g.count; l++) {
                size_t ri = g.first + l;
                uint64_t le = nameDirOff[t][n] + 16 + 8 * l;
                Put32(section, le, resources[ri].language);
                Put32(section, le + 4, (uint32_t)(dataEntryOff + 16 * ri));
            }
        }
    }
    for (const auto &s : stringOff) {
        Put16(section, s.second, (uint32_t)s.first.size());
        for (size_t i = 0; i < s.first.size(); i++)
            Put16(section, s.second + 2 + 2 * i, s.first[i]);
    }
    for (size_t i = 0; i < resources.size(); i++) {
        uint64_t e = dataEntryOff + 16 * i;
        Put32(section, e, (uint32_t)(sectionRva + dataOff[i]));
        Put32(section, e + 4, (uint32_t)resources[i].data.size());
        Put32(section, e + 8, resources[i].codePage);
        std::copy(resources[i].data.begin(), resources[i].data.end(), section.begin() + dataOff[i]);
    }
    return true;
}

} // namespace plombundle
