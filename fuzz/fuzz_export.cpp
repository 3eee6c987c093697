// libFuzzer target: the input is command-line arguments, one per line, then
// a NUL byte and the document put at the configuration path. An input
// without a NUL byte is all document.
#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

int zuvozozave_main(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, STDOUT_FILENO);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string_view arguments = nul == input.npos ? "" : input.substr(0, nul);
    const std::string_view document = nul == input.npos ? input : input.substr(nul + 1);

    const int file = open(ZUVOZOZAVE_CONFIG_PATH, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0 || write(file, document.data(), document.size()) != static_cast<ssize_t>(document.size()))
        __builtin_trap();
    close(file);

    std::vector<std::string> args{"zuvozozave"};
    for (size_t start = 0; start < arguments.size() && args.size() < 9;) {
        const size_t end = std::min(arguments.find('\n', start), arguments.size());
        args.emplace_back(arguments.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    zuvozozave_main(static_cast<int>(args.size()), argv.data());
    return 0;
}
