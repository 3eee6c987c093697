// SPDX-License-Identifier: ISC
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
constexpr char read_error[] = "error encountered on file read\n";

struct free_deleter {
    void operator()(char* p) const { std::free(p); }
};
using text_buffer = std::unique_ptr<char, free_deleter>;

// Reads the whole file into a zero-terminated block of size + 1 bytes, or
// reports and returns null.
text_buffer load_text(const config_file& file, size_t& size)
{
    if (file.fd < 0) {
        if (file.error != nullptr)
            std::fputs(file.error, stderr);
        return nullptr;
    }
    // The size and type of what was opened: the path may have been renamed
    // over since.
    struct stat status;
    if (fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fputs(read_error, stderr);
        return nullptr;
    }
    size = status.st_size;
    text_buffer text(static_cast<char*>(std::calloc(size + 1, 1)));
    if (!text)
        return nullptr;
    // A file that grew since the open is read only up to the size it had. No
    // signal handler is installed, so a read is never interrupted (EINTR).
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(file.fd, text.get() + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got == 0 || got != size) {
        std::fputs(read_error, stderr);
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
            if (++depth > max_config_depth)
                return false;
            break;
        default:
            if (depth > 0)
                --depth;
        }
    }
}

} // namespace

config_file::~config_file()
{
    if (fd >= 0)
        close(fd);
}

config_file open_config_file()
{
    // A FIFO would block the open, and other non-regular files have no size.
    struct stat status;
    if (stat(config_path, &status) != 0)
        return {-1, nullptr};
    if (!S_ISREG(status.st_mode))
        return {-1, read_error};
    // O_NONBLOCK keeps a FIFO swapped in after the stat from blocking us.
    const int fd = open(config_path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return {fd, fd < 0 ? "error encountered on file open\n" : nullptr};
}

yajl_val read_config_file(const config_file& file)
{
    size_t size = 0;
    const text_buffer text = load_text(file, size);
    if (!text)
        return nullptr;
    // The walk and the release keep stacks of max_config_depth frames. Too
    // deep a nesting needs more opening brackets than a small file holds.
    if (size > max_config_depth && !nesting_within_limit(text.get()))
        return nullptr;
    char error[1024] = {};
    return yajl_tree_parse(text.get(), error, sizeof error);
}

void free_config(yajl_val root)
{
    // yajl_tree_free recurses once per level, and a setuid run inherits the
    // caller's stack limit, however small. So containers are released deepest
    // first from a stack of our own, and it only ever meets their leaves.
    struct frame {
        yajl_val* slot;
        size_t next;
    };
    static frame stack[max_config_depth];
    size_t depth = 0;
    stack[0] = {&root, 0};
    for (;;) {
        frame& top = stack[depth];
        const yajl_val node = *top.slot;
        const bool object = YAJL_IS_OBJECT(node);
        yajl_val* const children = object ? node->u.object.values
            : YAJL_IS_ARRAY(node)         ? node->u.array.values
                                          : nullptr;
        const size_t count = object ? node->u.object.len : children ? node->u.array.len : 0;
        while (top.next < count && !YAJL_IS_OBJECT(children[top.next])
            && !YAJL_IS_ARRAY(children[top.next]))
            ++top.next;
        if (top.next < count) {
            stack[++depth] = {&children[top.next++], 0};
            continue;
        }
        yajl_tree_free(node);
        *top.slot = nullptr;
        if (depth-- == 0)
            return;
    }
}
