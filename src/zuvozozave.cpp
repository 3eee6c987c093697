// SPDX-License-Identifier: ISC
#include "config_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr const char* user_allow[] = {"basic", "icewm", "desktop", "menu"};

char kiv_quote = '"';

// Lines are gathered here and written with write(2): stdio costs several
// calls per line, and its start-up shows at the scale of this tool.
struct output_buffer {
    char data[1 << 16];
    size_t used;
    bool failed;
} out;

void write_all(const char* data, size_t size)
{
    while (size > 0 && !out.failed) {
        // Without signal handlers a write is never interrupted (EINTR).
        const ssize_t n = write(STDOUT_FILENO, data, size);
        if (n <= 0) {
            out.failed = true;
            return;
        }
        data += n;
        size -= n;
    }
}

void flush_output()
{
    write_all(out.data, out.used);
    out.used = 0;
}

void put(const char* data, size_t size)
{
    if (size > sizeof out.data - out.used) {
        flush_output();
        if (size > sizeof out.data) {
            write_all(data, size);
            return;
        }
    }
    std::memcpy(out.data + out.used, data, size);
    out.used += size;
}

void put(std::string_view text) { put(text.data(), text.size()); }

void put(char c)
{
    if (out.used == sizeof out.data)
        flush_output();
    out.data[out.used++] = c;
}

bool is_name_byte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Makes a shell-safe name part: anything but [A-Za-z0-9_] becomes '_'.
void to_shell_name(char* name)
{
    for (; *name != '\0'; ++name)
        if (!is_name_byte(*name))
            *name = '_';
}

bool object_is_allow(const char* name)
{
    for (const char* const allowed : user_allow)
        if (std::strcmp(name, allowed) == 0)
            return true;
    return false;
}

// Inside double quotes only " \ $ ` keep a meaning; inside apostrophes
// nothing does, and an apostrophe is written as '"'"'. In BIG5, BIG5-HKSCS,
// GBK, GB18030, Shift_JIS and JOHAB, bash and ksh93 may read a byte above 0x7F
// together with the byte after it: the backslash of an escape, or a digit,
// which bash in GB18030 then joins with the quote after it. Closing and
// reopening the quotes between them keeps every byte on its own.
void put_escaped(const char* value)
{
    const char* const stops = kiv_quote == '\'' ? "'0123456789" : "\"\\$`0123456789";
    const char* run = value;
    for (const char* p = value;; ++p) {
        p += std::strcspn(p, stops);
        if (p > value && static_cast<unsigned char>(p[-1]) > 0x7F && *p != '\0' && *p != '\'') {
            put(run, p - run);
            put(kiv_quote);
            put(kiv_quote);
            run = p;
        }
        if (*p >= '0' && *p <= '9') {
            while (p[1] >= '0' && p[1] <= '9')
                ++p;
            continue;
        }
        put(run, p - run);
        if (*p == '\0')
            return;
        if (*p == '\'') {
            put("'\"'\"'");
        } else {
            put('\\');
            put(*p);
        }
        run = p + 1;
    }
}

void print_string_shell(const char* key, const char* prefix, const char* value)
{
    // A shell name can't begin with a digit.
    if (*prefix >= '0' && *prefix <= '9')
        put('_');
    put(prefix);
    put('_');
    put(key);
    put('=');
    put(kiv_quote);
    put_escaped(value);
    put(kiv_quote);
    put('\n');
}

size_t member_count(yajl_val node) { return node->type == yajl_t_object ? node->u.object.len : 0; }

// The walk keeps a stack of its own: a setuid run inherits the caller's stack
// limit, however small, and the tree may nest max_config_depth levels.
struct walk_frame {
    yajl_val node;
    const char* prefix;
    size_t next, count;
} walk_stack[max_config_depth];

void print_node_shell(yajl_val node, const char* prefix, size_t count, bool restricted)
{
    if (node == nullptr || node->type != yajl_t_object)
        return;
    size_t depth = 0;
    walk_stack[0] = {node, prefix, 0, count};
    for (;;) {
        walk_frame& frame = walk_stack[depth];
        if (frame.next == frame.count) {
            if (depth-- == 0)
                return;
            continue;
        }
        const size_t i = frame.next++;
        // The parser allocated each key, so it is ours to rewrite in place.
        char* const key = const_cast<char*>(frame.node->u.object.keys[i]);
        to_shell_name(key);
        const yajl_val value = frame.node->u.object.values[i];
        if (value == nullptr)
            continue;
        if (value->type == yajl_t_object) {
            if (!restricted || object_is_allow(key))
                walk_stack[++depth] = {value, key, 0, value->u.object.len};
        } else if (value->type == yajl_t_string) {
            print_string_shell(key, frame.prefix, value->u.string);
        }
    }
}

void print_sections(yajl_val root, char* const* names, int count, bool restricted)
{
    for (int i = 0; i < count; ++i) {
        char* const name = names[i];
        if (restricted && !object_is_allow(name))
            continue;
        const char* path[] = {name, nullptr};
        const yajl_val section = yajl_tree_get(root, path, yajl_t_object);
        if (section == nullptr)
            continue;
        to_shell_name(name);
        print_node_shell(section, name, section->u.object.len, restricted);
    }
}

void print_selection(yajl_val root, int argc, char** argv, bool restricted)
{
    int first = 1;
    if (argc > 1 && argv[1][0] == '-') {
        if (std::strcmp(argv[1], "-sq") == 0)
            kiv_quote = '\'';
        first = 2;
    }
    if (first >= argc)
        print_node_shell(root, "", member_count(root), restricted);
    else
        print_sections(root, argv + first, argc - first, restricted);
}

// A setuid or setgid install needs its elevated ids only to open the file.
// Then nobody may read this process's memory, which holds what the caller
// may not see, whatever fs.suid_dumpable says.
bool drop_privileges(uid_t uid, uid_t euid)
{
    gid_t gid, egid, sgid;
    if (getresgid(&gid, &egid, &sgid) != 0)
        return false;
    if ((euid != uid || egid != gid)
        && (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0))
        return false;
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

using config_tree = std::unique_ptr<yajl_val_s, decltype([](yajl_val root) { free_config(root); })>;

} // namespace

int main(int argc, char** argv)
{
    uid_t uid, euid, suid;
    getresuid(&uid, &euid, &suid);
    const bool restricted = uid != 0;
    {
        const config_file file = open_config_file();
        if (!drop_privileges(uid, euid)) {
            std::fputs("error encountered on privilege drop\n", stderr);
            return 2;
        }
        const config_tree root(read_config_file(file));
        if (!root)
            return 2;
        print_selection(root.get(), argc, argv, restricted);
    }
    flush_output();
    if (out.failed) {
        std::fputs("error encountered on output write\n", stderr);
        return 1;
    }
    return 0;
}
