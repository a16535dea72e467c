// What the installation tests share: runs of a bundle copied into a test's own directory
// (under a name of the test's choosing) with a temporary directory of its own, and looks at
// what a run leaves behind: installed products and files, certificates, leftovers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace plomtest {

// A bundle made by the build (BUNDLE_DIR\<name>.exe).
std::wstring BuiltBundle(const std::wstring &name);
// A program built next to the test program.
std::wstring ProgramNextToTest(const std::wstring &name);

// One run's world: <dir>\<exeName> is the bundle, <dir>\temp its temporary directory.
struct BundleRun
{
    TempDir dir{L"plominst"};
    std::wstring exe;
    std::wstring temp;

    // Copies the built bundle in; false when that failed.
    bool Prepare(const std::wstring &bundle, const std::wstring &exeName);
    ProcessResult Run(const std::vector<std::wstring> &args,
                      std::vector<std::pair<std::wstring, std::wstring>> extraEnv = {}) const;
    // What the run left in its temporary directory.
    std::vector<std::wstring> Leftovers() const;
};

// Windows Installer products, by product code ("{...}").
bool IsProductInstalled(const std::wstring &productCode);
// Removes the product when it is installed; true when it is not installed afterwards.
// props: the properties of the installation (a moved INSTALLDIR), so that its files go too.
bool RemoveProduct(const std::wstring &productCode, const std::wstring &props = L"");

// Where 32-bit packages install, seen from any process.
std::wstring ProgramFilesX86();

// Certificates of the local machine's system stores, by SHA-1 thumbprint in hex.
int CountCertificates(const std::wstring &store, const std::wstring &sha1Hex);
bool DeleteCertificates(const std::wstring &store, const std::wstring &sha1Hex);
bool SystemStoreExists(const std::wstring &store);
// Not every implementation removes stores (wine does not): delete the certificates first.
void DeleteSystemStore(const std::wstring &store);

// The system's text for an error number, without the line end; empty when it has none.
std::string SystemErrorText(unsigned long error);

size_t CountOccurrences(const std::string &text, const std::string &what);

} // namespace plomtest
