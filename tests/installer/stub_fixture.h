// What the installer's black-box tests share: the stub next to the test program, bundles
// made from it, one temporary directory per test, and runs with that directory as TMP.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace plomtest {

struct TestPackage
{
    uint32_t    arch;           // 1 any, 2 x86, 3 amd64, or anything else
    std::string fileName;       // extraction name
    std::string data;           // the package's bytes
    std::string resourceName;   // the payload name the header gives; empty: BIN_<index>
};

// The directory of the running test program, and the stub copied next to it by the build.
std::wstring TestProgramDir();
std::wstring StubExe();

// Deterministic filler bytes, different for each seed.
std::string PackageBytes(size_t size, unsigned seed);

// Writes the packages into the build's bundle tool's input and runs it (see the .cpp).
bool MakeBundle(const std::wstring &out, const std::vector<TestPackage> &packages, std::string *error = nullptr);

// Tampering with a finished bundle through the Windows resource update functions.
bool SetManifestCount(const std::wstring &exe, uint8_t count);

// Environment for a run whose temporary directory is dir.
std::vector<std::pair<std::wstring, std::wstring>> TempEnv(const std::wstring &dir);

ProcessResult RunStub(const std::wstring &exe, const std::vector<std::wstring> &args, const std::wstring &tmpDir,
                      std::vector<std::pair<std::wstring, std::wstring>> extraEnv = {});

// The program name that the stub's diagnostics start with.
std::string ProgramName(const std::wstring &exe);

} // namespace plomtest
