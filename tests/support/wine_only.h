// Things that only work under wine. Tests that need them skip elsewhere.
#pragma once

#include <string>

namespace plomtest {

// True when the process runs under wine (ntdll exports wine_get_version).
bool IsWine();

// Sets what wine reports as the Windows version ("win10", "win7", ...) to programs named
// exeName (HKCU\Software\Wine\AppDefaults\<exeName>\Version), from their next start on.
// An empty version removes the setting. Returns false when the registry refused.
bool WineSetAppVersion(const std::wstring &exeName, const std::wstring &version);

} // namespace plomtest
