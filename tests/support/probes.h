// Where the probe programs and the fake DLL of tests/probes are: beside the test program,
// in its probes subdirectory.
#pragma once

#include <string>

namespace plomtest {

std::wstring ProbePath(const std::wstring &name);
std::string ProbePathUtf8(const std::wstring &name);

} // namespace plomtest
