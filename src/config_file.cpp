#include "config_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char config_path[] = ZUVOZOZAVE_CONFIG_PATH;

// yajl_tree_free recurses once per level and overflows the stack near
// 300,000 levels, so deeper documents are refused before they become trees.
constexpr unsigned max_nesting = 10000;

struct free_deleter {
    void operator()(char* p) const { std::free(p); }
};
using text_buffer = std::unique_ptr<char, free_deleter>;

struct file_descriptor {
    const int fd;
    ~file_descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Reads the whole file into a zero-terminated block of size + 1 bytes, or
// reports and returns null.
text_buffer load_text(size_t& size)
{
    struct stat status;
    if (stat(config_path, &status) != 0)
        return nullptr;
    // A FIFO would block the open, and other non-regular files have no size.
    if (!S_ISREG(status.st_mode)) {
        std::fputs("error encountered on file read\n", stderr);
        return nullptr;
    }
    // O_NONBLOCK keeps a FIFO swapped in after the stat from blocking us.
    const file_descriptor file{open(config_path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    if (file.fd < 0) {
        std::fputs("error encountered on file open\n", stderr);
        return nullptr;
    }
    size = status.st_size;
    text_buffer text(static_cast<char*>(std::calloc(size + 1, 1)));
    if (!text)
        return nullptr;
    // A file that grew since the stat is read only up to the stat's size. No
    // signal handler is installed, so a read is never interrupted (EINTR).
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(file.fd, text.get() + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got == 0 || got != size) {
        std::fputs("error encountered on file read\n", stderr);
        return nullptr;
    }
    return text;
}

// Follows the parser's lexing (strings, escapes, comments) closely enough to
// count how deeply arrays and objects nest in any text it would accept.
bool nesting_within_limit(const char* p)
{
    unsigned depth = 0;
    for (;;) {
        p += std::strcspn(p, "\"/[]{}");
        switch (*p++) {
        case '\0':
            return true;
        case '"':
            while (*(p += std::strcspn(p, "\"\\")) == '\\' && p[1] != '\0')
                p += 2;
            if (*p++ == '\0')
                return true;
            break;
        case '/':
            if (*p == '/') {
                p += std::strcspn(p, "\n");
            } else if (*p == '*') {
                do
                    p += 1 + std::strcspn(p + 1, "*");
                while (*p != '\0' && p[1] != '/');
                if (*p == '\0')
                    return true;
                p += 2;
            }
            break;
        case '[':
        case '{':
            if (++depth > max_nesting)
                return false;
            break;
        default:
            if (depth > 0)
                --depth;
        }
    }
}

} // namespace

yajl_val read_config_file()
{
    size_t size = 0;
    const text_buffer text = load_text(size);
    if (!text)
        return nullptr;
    // Too deep a nesting needs more opening brackets than a small file holds.
    if (size > max_nesting && !nesting_within_limit(text.get()))
        return nullptr;
    char error[1024] = {};
    return yajl_tree_parse(text.get(), error, sizeof error);
}

void free_config(yajl_val root)
{
    if (root != nullptr)
        yajl_tree_free(root);
}
