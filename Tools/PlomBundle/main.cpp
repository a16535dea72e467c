// PlomBundle: puts installation packages into a PlomStub executable.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bundle.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

const char kUsage[] =
    "Usage: PlomBundle --stub STUB.exe --output OUT.exe [PACKAGE...]\n"
    "\n"
    "Each package starts with --package and takes the options that follow it:\n"
    "  --package FILE       the .msi or .cab file to carry\n"
    "  --arch ARCH          any, x86, amd64, or a number (required)\n"
    "  --name FILENAME      file name it is extracted under (default: FILE's own name)\n"
    "  --resource NAME      payload resource name (default: BIN_<index>, two digits)\n"
    "  --no-payload         write the header but leave out the payload resource\n"
    "\n"
    "Other options:\n"
    "  --manifest-count N   package count written into the manifest (default: the number\n"
    "                       of packages; differing counts are for testing the stub)\n"
    "  --help               this text\n"
    "\n"
    "The output is written only when everything succeeded.\n";

int Fail(const std::string &message)
{
    std::fprintf(stderr, "PlomBundle: error: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv, argv + argc);
#ifdef _WIN32
    // The arguments as UTF-8, whatever the ANSI code page is.
    int wargc = 0;
    wchar_t **wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    if (wargv) {
        args.clear();
        for (int i = 0; i < wargc; i++) {
            int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
            std::string a(n > 0 ? n - 1 : 0, '\0');
            if (n > 1)
                WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &a[0], n, nullptr, nullptr);
            args.push_back(a);
        }
        LocalFree(wargv);
    }
#endif
    argc = (int)args.size();
    plombundle::BundleRequest request;
    for (int i = 1; i < argc; i++) {
        std::string opt = args[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        static const char *const kWithValue[] = {"--stub", "--output", "--package", "--arch",
                                                 "--name", "--resource", "--manifest-count"};
        bool takesValue = false;
        for (const char *o : kWithValue)
            takesValue |= opt == o;
        if (!takesValue && opt != "--no-payload")
            return Fail("unknown argument '" + opt + "' (see --help)");
        std::string value;
        if (takesValue) {
            if (i + 1 >= argc)
                return Fail("option " + opt + " needs a value");
            value = args[++i];
        }
        bool perPackage = opt == "--arch" || opt == "--name" || opt == "--resource" || opt == "--no-payload";
        if (perPackage && request.packages.empty())
            return Fail("option " + opt + " must follow a --package");
        plombundle::PackageEntry *pkg = request.packages.empty() ? nullptr : &request.packages.back();
        if (opt == "--stub") {
            request.stubPath = value;
        } else if (opt == "--output") {
            request.outputPath = value;
        } else if (opt == "--package") {
            request.packages.emplace_back();
            request.packages.back().path = value;
        } else if (opt == "--arch") {
            if (!plombundle::ParseArch(value, pkg->arch))
                return Fail("unknown architecture '" + value + "' (any, x86, amd64 or a number)");
            pkg->archGiven = true;
        } else if (opt == "--name") {
            if (value.empty())
                return Fail("--name needs a non-empty file name");
            pkg->fileName = value;
        } else if (opt == "--resource") {
            if (value.empty())
                return Fail("--resource needs a non-empty name");
            pkg->resourceName = value;
        } else if (opt == "--no-payload") {
            pkg->omitPayload = true;
        } else if (opt == "--manifest-count") {
            uint32_t n;
            if (!plombundle::ParseArch(value, n) || n > 255 || value.find_first_not_of("0123456789") != std::string::npos)
                return Fail("--manifest-count needs a number from 0 to 255");
            request.manifestCount = (int)n;
        }
    }
    if (request.stubPath.empty())
        return Fail("no --stub given (see --help)");
    if (request.outputPath.empty())
        return Fail("no --output given (see --help)");

    std::vector<uint8_t> output;
    std::string error;
    if (!plombundle::BuildBundle(request, output, error))
        return Fail(error);
    if (!plombundle::WriteOutput(request.outputPath, output, error))
        return Fail(error);
    std::printf("PlomBundle: wrote '%s' (%zu bytes, %zu package%s)\n", request.outputPath.c_str(),
                output.size(), request.packages.size(), request.packages.size() == 1 ? "" : "s");
    return 0;
}
