// libFuzzer target: the input is command-line arguments, one per line, then
// a NUL byte and the document that is put at the configuration path. An
// input without a NUL byte is all document.
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int zuvozozave_main(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto* const text = reinterpret_cast<const char*>(data);
    const auto* const nul = static_cast<const char*>(std::memchr(text, '\0', size));
    const size_t args_size = nul != nullptr ? nul - text : 0;
    const size_t document_start = nul != nullptr ? args_size + 1 : 0;

    const int file = open(ZUVOZOZAVE_CONFIG_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || write(file, text + document_start, size - document_start) < 0)
        __builtin_trap();
    close(file);

    std::vector<std::string> args{"zuvozozave"};
    for (size_t start = 0; start < args_size && args.size() < 9;) {
        const size_t end = std::string_view(text, args_size).find('\n', start);
        const size_t stop = end == std::string_view::npos ? args_size : end;
        args.emplace_back(text + start, stop - start);
        start = stop + 1;
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    zuvozozave_main(static_cast<int>(args.size()), argv.data());
    return 0;
}
