// SPDX-License-Identifier: ISC
#include "config_file.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr char config_path[] = ZUVOZOZAVE_CONFIG_PATH;
constexpr char open_error[] = "error encountered on file open\n";
constexpr char read_error[] = "error encountered on file read\n";
// Symbolic links followed in one resolution, as the kernel allows.
constexpr int max_links = 40;

struct free_deleter {
    void operator()(char* p) const { std::free(p); }
};
using text_buffer = std::unique_ptr<char, free_deleter>;

// Reads the whole file into a zero-terminated block of size + 1 bytes, or
// returns null, after a message where one is due: a block that can't be had
// is silent.
text_buffer load_text(const config_file& file, size_t& size)
{
    if (file.file.fd < 0) {
        if (file.error != nullptr)
            write_message(file.error);
        return nullptr;
    }
    // The size and type of what was opened: the path may have been renamed
    // over since.
    struct stat status;
    if (fstat(file.file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        write_message(read_error);
        return nullptr;
    }
    // No block is larger than PTRDIFF_MAX, and a 64-bit size would be cut
    // short on its way to a 32-bit size_t.
    if (status.st_size < 0 || status.st_size >= PTRDIFF_MAX)
        return nullptr;
    size = static_cast<size_t>(status.st_size); // in range, as just seen
    text_buffer text(static_cast<char*>(std::calloc(size + 1, 1)));
    if (!text)
        return nullptr;
    // A file that grew since the open is read only up to the size it had. No
    // signal handler is installed, so a read is never interrupted (EINTR).
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(file.file.fd, text.get() + got, size - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n); // n > 0
    }
    if (got == 0 || got != size) {
        write_message(read_error);
        return nullptr;
    }
    return text;
}

// Whether an escape, after its backslash, stands for U+0000.
bool is_nul_escape(const char* e)
{
    return e[0] == 'u' && e[1] == '0' && e[2] == '0' && e[3] == '0' && e[4] == '0';
}

// Whether a backslash in the text comes before u0000: a quick look, which
// most documents pass, before the lexing below.
bool may_hold_nul(const char* p)
{
    while (*(p += std::strcspn(p, "\\")) != '\0')
        if (is_nul_escape(++p))
            return true;
    return false;
}

// Follows the parser's lexing (strings, escapes, comments) closely enough to
// tell, of any text it would accept, whether arrays and objects nest more
// than max_config_depth deep, or an object key holds U+0000: the tree would
// end the key there, and it would pass for another. Escapes are read as JSON
// reads them, so a key holding a high surrogate's escape right before
// \u0000 is refused too, although the parser joins the two into one
// character: by JSON it holds U+0000, and another reader would end it there.
bool text_is_acceptable(const char* p)
{
    unsigned depth = 0;
    bool nul_string = false; // the last token is a string that holds U+0000
    for (;;) {
        switch (*p++) {
        case '\0':
            return true;
        case '"':
            nul_string = false;
            while (*(p += std::strcspn(p, "\"\\")) == '\\' && p[1] != '\0') {
                nul_string = nul_string || is_nul_escape(p + 1);
                p += 2;
            }
            if (*p++ == '\0')
                return true;
            continue;
        case ':':
            if (nul_string)
                return false;
            break;
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            continue;
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
            continue;
        case '[':
        case '{':
            if (++depth > max_config_depth)
                return false;
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
        }
        nul_string = false;
    }
}

} // namespace

void write_message(const char* message)
{
    // A message that can't be written has nowhere else to go.
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, std::strlen(message));
}

descriptor::~descriptor()
{
    if (fd >= 0)
        close(fd);
}

namespace {

// A path that leads nowhere is no configuration, and says nothing, as for a
// missing file; but a lack of descriptors or memory, which would fail the
// open too, is an open failure.
config_file unreachable()
{
    const bool short_of = errno == EMFILE || errno == ENFILE || errno == ENOMEM;
    return {descriptor(), short_of ? open_error : nullptr};
}

bool is_trusted_directory(const struct stat& status)
{
    return S_ISDIR(status.st_mode) && status.st_uid == 0
        && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Resolves the path as the kernel would, one component at a time and
// without following any, so that each directory is checked before anything
// is opened in it: a directory that another user may change could point the
// elevated open at any file. The root is the component "/".
config_file open_trusted()
{
    static_assert(config_path[0] == '/' && sizeof config_path <= PATH_MAX);
    // What is left to resolve lies at the end of path, and a link's target is
    // copied in front of it. A spliced path may be as long as open(2) takes.
    static char path[PATH_MAX], target[PATH_MAX];
    char* rest = std::end(path) - sizeof config_path;
    std::memcpy(rest, config_path, sizeof config_path);
    descriptor dir(AT_FDCWD);
    for (int links = 0; *rest != '\0';) {
        char* const end = *rest == '/' ? rest + 1 : rest + std::strcspn(rest, "/");
        const char separator = std::exchange(*end, '\0'); // rest is the component now
        descriptor node(openat(dir.fd, rest, O_PATH | O_NOFOLLOW | O_CLOEXEC));
        *end = separator;
        struct stat status;
        if (node.fd < 0 || fstat(node.fd, &status) != 0)
            return unreachable();
        if (S_ISLNK(status.st_mode)) {
            // The component is spent, so all before end is room for the
            // target; one that fills its buffer may be cut, and never fits.
            // An absolute target starts again at "/".
            const ssize_t size = readlinkat(node.fd, "", target, sizeof target);
            if (size < 0)
                return unreachable();
            if (++links > max_links || size == 0 || size > end - path)
                return {descriptor(), nullptr};
            rest = end - size;
            std::memcpy(rest, target, static_cast<size_t>(size)); // size > 0
        } else if (S_ISDIR(status.st_mode)) {
            if (!is_trusted_directory(status))
                return {descriptor(), open_error};
            std::swap(dir.fd, node.fd);
            for (rest = end; *rest == '/';)
                ++rest;
        } else if (separator != '\0') {
            return {descriptor(), nullptr}; // not a directory
        } else if (!S_ISREG(status.st_mode)) {
            return {descriptor(), read_error};
        } else {
            // Only root can have renamed another file here since: the
            // directory is trusted.
            const int fd
                = openat(dir.fd, rest, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
            return {descriptor(fd), fd < 0 ? open_error : nullptr};
        }
    }
    return {descriptor(), read_error}; // the path names a directory
}

} // namespace

config_file open_config_file(bool elevated)
{
    if (elevated)
        return open_trusted();
    // A FIFO would block the open, and other non-regular files have no size.
    struct stat status;
    if (stat(config_path, &status) != 0)
        return unreachable();
    if (!S_ISREG(status.st_mode))
        return {descriptor(), read_error};
    // O_NONBLOCK keeps a FIFO swapped in after the stat from blocking us.
    const int fd = openat(AT_FDCWD, config_path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return {descriptor(fd), fd < 0 ? open_error : nullptr};
}

yajl_val read_config_file(const config_file& file)
{
    size_t size = 0;
    const text_buffer text = load_text(file, size);
    if (!text)
        return nullptr;
    // The walk and the release keep stacks of max_config_depth frames. Too
    // deep a nesting needs more opening brackets than a small file holds, and
    // a key that holds U+0000 needs its escape.
    if ((size > max_config_depth || may_hold_nul(text.get())) && !text_is_acceptable(text.get()))
        return nullptr;
    char error[1024] = {};
    return yajl_tree_parse(text.get(), error, sizeof error);
}

void free_config(yajl_val root)
{
    // yajl_tree_free recurses once per level, and a setuid run inherits the
    // caller's stack limit, however small. So containers are released
    // deepest first from a stack of our own, each cut from its parent once
    // released: yajl_tree_free then meets no container that holds another,
    // and frees each node once.
    struct frame {
        yajl_val node;
        size_t next;
    };
    static frame stack[max_config_depth];
    struct nodes {
        yajl_val* at;
        size_t count;
    };
    const auto children = [](yajl_val node) -> nodes {
        if (YAJL_IS_OBJECT(node))
            return {node->u.object.values, node->u.object.len};
        if (YAJL_IS_ARRAY(node))
            return {node->u.array.values, node->u.array.len};
        return {nullptr, 0};
    };
    size_t depth = 0;
    stack[0] = {root, 0};
    for (;;) {
        frame& top = stack[depth];
        const nodes below = children(top.node);
        while (top.next < below.count && children(below.at[top.next]).count == 0)
            ++top.next;
        if (top.next < below.count) {
            stack[++depth] = {below.at[top.next], 0};
            continue;
        }
        yajl_tree_free(top.node);
        if (depth-- == 0)
            return;
        children(stack[depth].node).at[stack[depth].next++] = nullptr;
    }
}
