// Bundles made by the bundle builder at build time, examined the way Windows sees them:
// loaded as data files, every resource compared byte for byte with the stub's and with
// the package files, the headers checked field by field, the image checksum, the PE
// layout, and (for the PE32+ stubs) started as programs.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"

using namespace plomtest;

namespace {

// type ("#10" for numbered types), name ("#101" likewise), language
using ResKey = std::tuple<std::wstring, std::wstring, WORD>;
using ResMap = std::map<ResKey, std::string>;

std::wstring ResIdString(LPCWSTR id)
{
    if (IS_INTRESOURCE(id))
        return L"#" + std::to_wstring((unsigned)(ULONG_PTR)id);
    return id;
}

LPCWSTR ResIdPointer(const std::wstring &s)
{
    if (!s.empty() && s[0] == L'#')
        return MAKEINTRESOURCEW(std::stoul(s.substr(1)));
    return s.c_str();
}

std::string ResourceBytes(HMODULE mod, LPCWSTR type, LPCWSTR name, WORD lang, bool &ok)
{
    ok = false;
    HRSRC r = FindResourceExW(mod, type, name, lang);
    if (!r)
        return std::string();
    DWORD size = SizeofResource(mod, r);
    HGLOBAL g = LoadResource(mod, r);
    const char *p = g ? (const char *)LockResource(g) : nullptr;
    if (!p && size)
        return std::string();
    ok = true;
    return std::string(p, p + size);
}

struct Enumeration {
    HMODULE mod;
    ResMap *out;
    std::wstring type, name;
    bool failed = false;
};

BOOL CALLBACK OnLanguage(HMODULE mod, LPCWSTR type, LPCWSTR name, WORD lang, LONG_PTR param)
{
    auto *e = (Enumeration *)param;
    bool ok;
    std::string data = ResourceBytes(mod, type, name, lang, ok);
    if (!ok)
        e->failed = true;
    (*e->out)[ResKey(e->type, e->name, lang)] = data;
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE mod, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    auto *e = (Enumeration *)param;
    e->name = ResIdString(name);
    EnumResourceLanguagesW(mod, type, name, OnLanguage, param);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE mod, LPWSTR type, LONG_PTR param)
{
    auto *e = (Enumeration *)param;
    e->type = ResIdString(type);
    EnumResourceNamesW(mod, type, OnName, param);
    return TRUE;
}

// Every resource of an image, as Windows enumerates and loads them.
bool AllResources(HMODULE mod, ResMap &out)
{
    out.clear();
    Enumeration e{mod, &out};
    EnumResourceTypesW(mod, OnType, (LONG_PTR)&e);
    return !e.failed;
}

std::string Describe(const ResKey &k)
{
    return WideToUtf8(std::get<0>(k)) + "/" + WideToUtf8(std::get<1>(k)) + "/"
        + std::to_string(std::get<2>(k));
}

struct Package {
    const wchar_t *payload;    // file in PAYLOAD_DIR
    uint32_t arch;
    const char *resourceName;  // as stored
    const char *lookupName;    // as a caller may spell it
    const char *fileName;      // UTF-8
};

const Package kThree[] = {
    {L"odd.msi", 3, "BIN_00", "BIN_00", "odd.msi"},
    {L"empty.cab", 1, "BIN_01", "bin_01", "Empty package.cab"},
    {L"block.cab", 4, "PAYLOAD_BLOCK", "payload_block", "Bl\xc3\xb6" "ck package.cab"},
};

// A header without its payload, in a manifest that counts three packages.
const Package kBroken[] = {
    {L"odd.msi", 2, "BIN_00", "BIN_00", "odd.msi"},
};

// What a stub carries of its own, checked so that its survival in the bundle means
// something.
struct StubKind {
    std::vector<ResKey> required;  // empty: a stub without resources
    const wchar_t *description;    // FileDescription of its version information
    DWORD versionMS, versionLS;
};

const StubKind kStandIn = {
    {ResKey(L"#14", L"#101", 1033), ResKey(L"#3", L"#1", 1033), ResKey(L"#16", L"#1", 1033),
     ResKey(L"#24", L"#1", 1033), ResKey(L"#10", L"KEEPME", 1033)},
    L"Bundle test stub", 0x00040003, 0x00020001};
const StubKind kBare = {{}, nullptr, 0, 0};
#ifdef HAVE_PLOMSTUB_BUNDLE
// The product's own stub: icon group 101, version information 1, application manifest 1.
const StubKind kPlomStub = {
    {ResKey(L"#14", L"#101", 1033), ResKey(L"#16", L"#1", 1033), ResKey(L"#24", L"#1", 1033)},
    L"Frostgrain Installer", (DWORD)(PLOM_VERSION_MAJOR << 16 | PLOM_VERSION_MINOR),
    (DWORD)(PLOM_VERSION_BUILD << 16 | PLOM_VERSION_REVISION)};
#endif

struct BundleCase {
    const wchar_t *bundle;
    const wchar_t *stub;
    const StubKind *kind;
    bool runnable;             // PE32+: started as a program too
    bool signedFile;
    unsigned manifestCount;
    const Package *packages;
    size_t packageCount;
    bool payloadsPresent;
};

// Mirrors the "many" bundle of the build: 101 packages, the first ones with resource
// names given in mixed order and case.
std::vector<Package> MakeMany()
{
    static const char *const names[] = {"A", "AB", "A_", "A-", "A.", "Z",
                                        "ZZZZZZZZZZZZZZZZZZZZZZZZZZZ", "0", "09", "M1", "m2", "_X"};
    static const wchar_t *const payloads[] = {L"odd.msi", L"block.cab", L"empty.cab"};
    static std::vector<std::string> strings;  // keeps the texts the records point to
    strings.reserve(4 * 101);
    std::vector<Package> many;
    for (unsigned i = 0; i <= 100; i++) {
        std::string given = i < sizeof(names) / sizeof(names[0]) ? names[i] : "BIN_" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        std::string stored = given;
        for (char &ch : stored)
            ch = (char)toupper((unsigned char)ch);
        std::wstring payload = payloads[i % 3];
        strings.push_back(stored);
        const char *storedP = strings.back().c_str();
        strings.push_back(given);
        const char *givenP = strings.back().c_str();
        strings.push_back(WideToUtf8(payload));
        const char *fileP = strings.back().c_str();
        many.push_back(Package{payloads[i % 3], i, storedP, givenP, fileP});
    }
    return many;
}
const std::vector<Package> kMany = MakeMany();

const BundleCase kBundles[] = {
    {L"stub64-three.exe", L"stub64.exe", &kStandIn, true, false, 3, kThree, 3, true},
    {L"stub64reloc-three.exe", L"stub64reloc.exe", &kStandIn, true, false, 3, kThree, 3, true},
    {L"stub32-three.exe", L"stub32.exe", &kStandIn, false, false, 3, kThree, 3, true},
    {L"stub64bare-three.exe", L"stub64bare.exe", &kBare, true, false, 3, kThree, 3, true},
    {L"stub64reloc-three-signed.exe", L"stub64reloc.exe", &kStandIn, true, true, 3, kThree, 3, true},
    {L"stub64-none.exe", L"stub64.exe", &kStandIn, true, false, 0, nullptr, 0, true},
    {L"stub64-broken.exe", L"stub64.exe", &kStandIn, true, false, 3, kBroken, 1, false},
    {L"stub64-many.exe", L"stub64.exe", &kStandIn, true, false, 101, kMany.data(), kMany.size(), true},
#ifdef HAVE_PLOMSTUB_BUNDLE
    // Not started: it would run a real installation.
    {L"plomstub-three.exe", L"plomstub.exe", &kPlomStub, false, false, 3, kThree, 3, true},
#endif
};

void PrintTo(const BundleCase &c, std::ostream *os)
{
    *os << WideToUtf8(c.bundle);
}

std::string ExpectedManifest(unsigned count)
{
    std::string m("PlomInstV1\0\0\0\0\0", 15);
    m.push_back((char)count);
    return m;
}

std::string ExpectedHeader(const Package &p)
{
    std::string h(256, '\0');
    for (int i = 0; i < 4; i++)
        h[i] = (char)(p.arch >> (8 * i));
    std::memcpy(&h[4], p.resourceName, std::strlen(p.resourceName));
    std::memcpy(&h[32], p.fileName, std::strlen(p.fileName));
    return h;
}

std::wstring Ascii(const char *s)
{
    return Utf8ToWide(s);
}

class Module {
public:
    explicit Module(const std::wstring &path)
        : mod_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~Module() { if (mod_) FreeLibrary(mod_); }
    HMODULE get() const { return mod_; }
private:
    HMODULE mod_;
};

// The section table and the headers that describe it agree, as a loader expects.
void CheckPeLayout(const std::string &file, bool signedFile, const std::string &what)
{
    ASSERT_GE(file.size(), 0x200u) << what;
    auto dos = (const IMAGE_DOS_HEADER *)file.data();
    auto nt = (const IMAGE_NT_HEADERS32 *)(file.data() + dos->e_lfanew);
    bool plus = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    auto nt64 = (const IMAGE_NT_HEADERS64 *)nt;
    DWORD sectionAlign = plus ? nt64->OptionalHeader.SectionAlignment : nt->OptionalHeader.SectionAlignment;
    DWORD fileAlign = plus ? nt64->OptionalHeader.FileAlignment : nt->OptionalHeader.FileAlignment;
    DWORD sizeOfImage = plus ? nt64->OptionalHeader.SizeOfImage : nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY *dirs = plus ? nt64->OptionalHeader.DataDirectory : nt->OptionalHeader.DataDirectory;
    auto sec = (const IMAGE_SECTION_HEADER *)((const char *)&nt->OptionalHeader + nt->FileHeader.SizeOfOptionalHeader);
    unsigned n = nt->FileHeader.NumberOfSections;
    DWORD expectVa = 0, rawEnd = 0;
    bool resourceInSection = false;
    for (unsigned i = 0; i < n; i++) {
        std::string name((const char *)sec[i].Name, strnlen((const char *)sec[i].Name, 8));
        EXPECT_EQ(sec[i].VirtualAddress % sectionAlign, 0u) << what << " " << name;
        EXPECT_EQ(sec[i].PointerToRawData % fileAlign, 0u) << what << " " << name;
        EXPECT_EQ(sec[i].SizeOfRawData % fileAlign, 0u) << what << " " << name;
        if (i)
            EXPECT_EQ(sec[i].VirtualAddress, expectVa) << what << ": gap or overlap before " << name;
        DWORD vsize = std::max(sec[i].Misc.VirtualSize, sec[i].SizeOfRawData);
        expectVa = (sec[i].VirtualAddress + vsize + sectionAlign - 1) / sectionAlign * sectionAlign;
        if (sec[i].SizeOfRawData)
            rawEnd = std::max(rawEnd, sec[i].PointerToRawData + sec[i].SizeOfRawData);
        const IMAGE_DATA_DIRECTORY &rd = dirs[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        if (rd.VirtualAddress >= sec[i].VirtualAddress
            && rd.VirtualAddress + rd.Size <= sec[i].VirtualAddress + sec[i].Misc.VirtualSize
            && rd.Size <= sec[i].SizeOfRawData)
        {
            resourceInSection = true;
            // The packages are mapped from the file only when their section starts on a
            // page there; elsewhere a loader may copy all of them at start-up.
            EXPECT_EQ(sec[i].PointerToRawData % 4096, 0u) << what << ": resource section not page-aligned in the file";
        }
    }
    EXPECT_EQ(sizeOfImage, expectVa) << what;
    EXPECT_TRUE(resourceInSection) << what;
    const IMAGE_DATA_DIRECTORY &cert = dirs[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (signedFile) {
        // The certificate table follows the sections and ends the file.
        EXPECT_GE(cert.VirtualAddress, rawEnd) << what;
        EXPECT_EQ((size_t)cert.VirtualAddress + cert.Size, file.size()) << what;
    } else {
        EXPECT_EQ(cert.VirtualAddress, 0u) << what;
        EXPECT_EQ(file.size(), rawEnd) << what << ": data after the last section";
    }
}

class Bundles : public ::testing::TestWithParam<BundleCase> {};

TEST_P(Bundles, ResourcesAreTheStubsPlusThePackages)
{
    const BundleCase &c = GetParam();
    std::wstring bundlePath = std::wstring(BUNDLE_DIR) + L"\\" + c.bundle;
    std::wstring stubPath = std::wstring(STUB_DIR) + L"\\" + c.stub;
    Module bundle(bundlePath), stub(stubPath);
    ASSERT_NE(bundle.get(), nullptr) << "load " << WideToUtf8(bundlePath) << ": " << GetLastError();
    ASSERT_NE(stub.get(), nullptr) << "load " << WideToUtf8(stubPath) << ": " << GetLastError();

    ResMap expected, actual;
    if (!c.kind->required.empty()) {
        ASSERT_TRUE(AllResources(stub.get(), expected));
        for (const ResKey &k : c.kind->required)
            ASSERT_EQ(expected.count(k), 1u) << "the stub lacks " << Describe(k);
    }
    expected[ResKey(L"#10", L"MANIFEST", 1033)] = ExpectedManifest(c.manifestCount);
    for (size_t i = 0; i < c.packageCount; i++) {
        const Package &p = c.packages[i];
        wchar_t hdr[16];
        wsprintfW(hdr, L"HDR_%02u", (unsigned)i); // at least two digits: HDR_07, HDR_100
        expected[ResKey(L"#10", hdr, 1033)] = ExpectedHeader(p);
        if (c.payloadsPresent) {
            std::string data;
            ASSERT_TRUE(ReadWholeFile(std::wstring(PAYLOAD_DIR) + L"\\" + p.payload, data));
            expected[ResKey(L"#10", Ascii(p.resourceName), 1033)] = data;
        }
    }
    ASSERT_TRUE(AllResources(bundle.get(), actual));
    for (const auto &e : expected) {
        auto it = actual.find(e.first);
        if (it == actual.end())
            ADD_FAILURE() << WideToUtf8(c.bundle) << ": missing " << Describe(e.first);
        else
            EXPECT_TRUE(it->second == e.second) << WideToUtf8(c.bundle) << ": " << Describe(e.first)
                << " has " << it->second.size() << " bytes, expected " << e.second.size()
                << " (or they differ)";
    }
    for (const auto &a : actual)
        EXPECT_EQ(expected.count(a.first), 1u) << WideToUtf8(c.bundle) << ": unexpected " << Describe(a.first);

    // Found the way the stub looks them up: language neutral, name in any case.
    for (size_t i = 0; i < c.packageCount && c.payloadsPresent; i++) {
        const Package &p = c.packages[i];
        bool ok;
        std::string data = ResourceBytes(bundle.get(), MAKEINTRESOURCEW(10), Ascii(p.lookupName).c_str(),
                                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), ok);
        EXPECT_TRUE(ok) << p.lookupName;
        EXPECT_EQ(data.size(), expected[ResKey(L"#10", Ascii(p.resourceName), 1033)].size()) << p.lookupName;
    }
    bool ok;
    ResourceBytes(bundle.get(), MAKEINTRESOURCEW(10), L"MANIFEST", 0, ok);
    EXPECT_TRUE(ok);
}

TEST_P(Bundles, ValidImageWithCorrectChecksum)
{
    const BundleCase &c = GetParam();
    std::wstring bundlePath = std::wstring(BUNDLE_DIR) + L"\\" + c.bundle;
    std::string file;
    ASSERT_TRUE(ReadWholeFile(bundlePath, file));
    CheckPeLayout(file, c.signedFile, WideToUtf8(c.bundle));

    DWORD headerSum = 0, computedSum = 0;
    ASSERT_EQ(MapFileAndCheckSumW(bundlePath.c_str(), &headerSum, &computedSum), (DWORD)CHECKSUM_SUCCESS);
    EXPECT_NE(headerSum, 0u);
    EXPECT_EQ(headerSum, computedSum);

    if (c.kind->description) {
        // The version information still reads as the stub's.
        DWORD handle = 0, size = GetFileVersionInfoSizeW(bundlePath.c_str(), &handle);
        ASSERT_NE(size, 0u);
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(bundlePath.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &len));
        EXPECT_EQ(fixed->dwFileVersionMS, c.kind->versionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, c.kind->versionLS);
        WORD *translation = nullptr;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", (void **)&translation, &len));
        ASSERT_GE(len, 4u);
        wchar_t query[64];
        wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\FileDescription", translation[0], translation[1]);
        wchar_t *desc = nullptr;
        ASSERT_TRUE(VerQueryValueW(info.data(), query, (void **)&desc, &len));
        EXPECT_STREQ(desc, c.kind->description);
    }

    if (c.runnable) {
        ProcessResult r = RunProcessArgs(bundlePath, {});
        ASSERT_TRUE(r.started) << "CreateProcess: " << r.startError;
        EXPECT_EQ(r.exitCode, 0u);
    }
}

// The same tool built for Windows: the same bytes as the host's build, Unicode paths
// and names through the wide command line, and the same refusal of bad input.
TEST(BundleToolOnWindows, SameOutputUnicodePathsAndBadInput)
{
    TempDir dir(L"bundle tool");
    ASSERT_TRUE(dir.ok());
    const std::wstring payloads = PAYLOAD_DIR, stubs = STUB_DIR;
    std::wstring out = dir.file(L"out.exe");
    ProcessResult r = RunProcessArgs(PLOM_BUNDLE_EXE, {
        L"--stub", stubs + L"\\stub64.exe", L"--output", out,
        L"--package", payloads + L"\\odd.msi", L"--arch", L"amd64",
        L"--package", payloads + L"\\empty.cab", L"--arch", L"any", L"--name", L"Empty package.cab",
        L"--package", payloads + L"\\block.cab", L"--arch", L"4", L"--resource", L"payload_block",
        L"--name", L"Bl\u00f6ck package.cab"});
    ASSERT_TRUE(r.started) << r.startError;
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    std::string mine, host;
    ASSERT_TRUE(ReadWholeFile(out, mine));
    ASSERT_TRUE(ReadWholeFile(std::wstring(BUNDLE_DIR) + L"\\stub64-three.exe", host));
    EXPECT_TRUE(mine == host) << "the Windows build wrote " << mine.size() << " bytes, the host's "
                              << host.size();

    // A package whose own file name (the default extraction name) is not ASCII.
    std::string payload;
    ASSERT_TRUE(ReadWholeFile(payloads + L"\\odd.msi", payload));
    std::wstring odd = dir.file(L"p\u00e4ckage \u4e2d.msi");
    ASSERT_TRUE(WriteWholeFile(odd, payload));
    std::wstring out2 = dir.file(L"\u00fcnicode out.exe");
    r = RunProcessArgs(PLOM_BUNDLE_EXE, {L"--stub", stubs + L"\\stub64.exe", L"--output", out2,
                                         L"--package", odd, L"--arch", L"any"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    {
        Module bundle(out2);
        ASSERT_NE(bundle.get(), nullptr);
        bool ok;
        std::string hdr = ResourceBytes(bundle.get(), MAKEINTRESOURCEW(10), L"HDR_00", 1033, ok);
        ASSERT_TRUE(ok);
        Package expected{L"", 1, "BIN_00", "BIN_00", "p\xc3\xa4" "ckage \xe4\xb8\xad" ".msi"};
        EXPECT_TRUE(hdr == ExpectedHeader(expected));
        EXPECT_TRUE(ResourceBytes(bundle.get(), MAKEINTRESOURCEW(10), L"BIN_00", 1033, ok) == payload);
    }

    std::wstring out3 = dir.file(L"never.exe");
    r = RunProcessArgs(PLOM_BUNDLE_EXE, {L"--stub", stubs + L"\\stub64.exe", L"--output", out3,
                                         L"--package", dir.file(L"missing.msi"), L"--arch", L"any"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("PlomBundle: error: package #0"), std::string::npos) << r.err;
    EXPECT_FALSE(PathExists(out3));
    EXPECT_FALSE(PathExists(out3 + L".partial"));
}

std::string CaseName(const ::testing::TestParamInfo<BundleCase> &info)
{
    std::string n = WideToUtf8(info.param.bundle);
    std::string out;
    for (char ch : n)
        if (isalnum((unsigned char)ch))
            out.push_back(ch);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Built, Bundles, ::testing::ValuesIn(kBundles), CaseName);

} // namespace
