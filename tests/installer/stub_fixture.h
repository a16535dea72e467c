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
    bool        noPayload = false;  // the header names a payload that is not written
};

// The directory of the running test program, and the stub copied next to it by the build.
std::wstring TestProgramDir();
std::wstring StubExe();

// Deterministic filler bytes, different for each seed.
std::string PackageBytes(size_t size, unsigned seed);

// Writes the packages as files into workDir and builds the bundle from the stub with the
// bundle builder; manifestCount >= 0 makes the manifest count that many packages instead.
bool MakeBundle(const std::wstring &out, const std::vector<TestPackage> &packages, const std::wstring &workDir,
                std::string *error = nullptr, int manifestCount = -1);

// Environment for a run whose temporary directory is dir.
std::vector<std::pair<std::wstring, std::wstring>> TempEnv(const std::wstring &dir);

ProcessResult RunStub(const std::wstring &exe, const std::vector<std::wstring> &args, const std::wstring &tmpDir,
                      std::vector<std::pair<std::wstring, std::wstring>> extraEnv = {});

// The program name that the stub's diagnostics start with.
std::string ProgramName(const std::wstring &exe);

} // namespace plomtest
