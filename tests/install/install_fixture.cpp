#include "install_fixture.h"

#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <vector>

namespace plomtest {

std::wstring BuiltBundle(const std::wstring &name)
{
    return std::wstring(BUNDLE_DIR) + L"\\" + name + L".exe";
}

std::wstring ProgramNextToTest(const std::wstring &name)
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

bool BundleRun::Prepare(const std::wstring &bundle, const std::wstring &exeName)
{
    if (!dir.ok())
        return false;
    exe = dir.file(exeName);
    temp = dir.file(L"temp");
    return CreateDirectoryW(temp.c_str(), nullptr) && CopyFileW(bundle.c_str(), exe.c_str(), FALSE);
}

ProcessResult BundleRun::Run(const std::vector<std::wstring> &args,
                             std::vector<std::pair<std::wstring, std::wstring>> extraEnv) const
{
    ProcessOptions options;
    options.env = { { L"KELP_TMPDIR", L"" }, { L"TMP", temp }, { L"TEMP", temp } };
    options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
    options.workDir = dir.path();
    return RunProcessArgs(exe, args, options);
}

std::vector<std::wstring> BundleRun::Leftovers() const
{
    std::vector<std::wstring> names;
    ListDirectory(temp, names);
    return names;
}

bool IsProductInstalled(const std::wstring &productCode)
{
    return MsiQueryProductStateW(productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

bool RemoveProduct(const std::wstring &productCode, const std::wstring &props)
{
    if (!IsProductInstalled(productCode))
        return true;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductExW(productCode.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT, props.c_str());
    return !IsProductInstalled(productCode);
}

std::wstring ProgramFilesX86()
{
    wchar_t *p = nullptr;
    std::wstring out;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &p)))
        out = p;
    CoTaskMemFree(p);
    return out;
}

namespace {

std::vector<BYTE> HexBytes(const std::wstring &hex)
{
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((BYTE)std::stoul(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The system store as programs see it.
HCERTSTORE OpenMachineStore(const std::wstring &store, DWORD extraFlags)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                         CERT_SYSTEM_STORE_LOCAL_MACHINE | extraFlags, store.c_str());
}

// Its registry part, where the stores keep what is added: deletions through the system
// store's collection do not always reach it (wine keeps them in memory only).
HCERTSTORE OpenMachineRegistryStore(const std::wstring &store, DWORD extraFlags)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                         CERT_SYSTEM_STORE_LOCAL_MACHINE | extraFlags, store.c_str());
}

} // namespace

int CountCertificates(const std::wstring &store, const std::wstring &sha1Hex)
{
    HCERTSTORE h = OpenMachineStore(store, CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG);
    if (!h)
        return 0;
    std::vector<BYTE> hash = HexBytes(sha1Hex);
    CRYPT_HASH_BLOB blob = { (DWORD)hash.size(), hash.data() };
    int count = 0;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertFindCertificateInStore(h, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH,
                                             &blob, ctx)) != nullptr)
        count++;
    CertCloseStore(h, 0);
    return count;
}

bool DeleteCertificates(const std::wstring &store, const std::wstring &sha1Hex)
{
    HCERTSTORE h = OpenMachineRegistryStore(store, CERT_STORE_OPEN_EXISTING_FLAG);
    if (!h)
        return true;   // no store, no certificate
    std::vector<BYTE> hash = HexBytes(sha1Hex);
    CRYPT_HASH_BLOB blob = { (DWORD)hash.size(), hash.data() };
    bool ok = true;
    PCCERT_CONTEXT ctx;
    while ((ctx = CertFindCertificateInStore(h, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH,
                                             &blob, nullptr)) != nullptr)
        if (!CertDeleteCertificateFromStore(ctx))   // frees the context in every case
        {
            ok = false;
            break;
        }
    CertCloseStore(h, 0);
    return ok;
}

bool SystemStoreExists(const std::wstring &store)
{
    HCERTSTORE h = OpenMachineStore(store, CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG);
    if (h)
        CertCloseStore(h, 0);
    return h != nullptr;
}

void DeleteSystemStore(const std::wstring &store)
{
    // With the delete flag the open removes the store and returns no handle.
    OpenMachineRegistryStore(store, CERT_STORE_DELETE_FLAG);
}

std::string SystemErrorText(unsigned long error)
{
    wchar_t *text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, nullptr);
    std::wstring w = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' '))
        w.pop_back();
    return WideToUtf8(w);
}

size_t CountOccurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        count++;
    return count;
}

} // namespace plomtest
