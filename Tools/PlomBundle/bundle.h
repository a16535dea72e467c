// Turning a stub executable and a list of packages into one installer executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plombundle {

struct PackageEntry {
    std::string path;          // the package file on the build host
    uint32_t arch = 0;         // PKG_ARCH_* or any other number
    bool archGiven = false;
    std::string fileName;      // extraction file name; empty: the package file's own name
    std::string resourceName;  // payload resource; empty: BIN_<index>
    bool omitPayload = false;  // header only (for testing the stub's error path)
};

struct BundleRequest {
    std::string stubPath;
    std::string outputPath;
    std::vector<PackageEntry> packages;
    int manifestCount = -1;    // the count written into the manifest; -1: the real count
};

// "any", "x86", "amd64" (any case), or a decimal or 0x-prefixed number.
bool ParseArch(const std::string &text, uint32_t &arch);
// Builds the new executable in memory; on failure nothing is written anywhere.
bool BuildBundle(const BundleRequest &request, std::vector<uint8_t> &output, std::string &error);
// Writes through a temporary file beside the target and renames it into place, so the
// target is either the complete new file or untouched.
bool WriteOutput(const std::string &path, const std::vector<uint8_t> &data, std::string &error);

} // namespace plombundle
