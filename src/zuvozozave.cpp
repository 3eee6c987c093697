// SPDX-License-Identifier: ISC
#include "config_file.h"

#include <climits>
#include <cstring>
#include <linux/capability.h>
#include <memory>
#include <string_view>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
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
        size -= static_cast<size_t>(n); // n > 0
    }
}

void flush_output()
{
    write_all(out.data, out.used);
    out.used = 0;
}

// What a full buffer calls for, out of line: rare, and put() stays small.
[[gnu::noinline, gnu::cold]] void put_after_flush(const char* data, size_t size)
{
    flush_output();
    if (size > sizeof out.data)
        return write_all(data, size);
    std::memcpy(out.data, data, size);
    out.used = size;
}

// Inlined even where the optimiser would not, as at -O2: every line calls it
// several times.
[[gnu::always_inline]] inline void put(const char* data, size_t size)
{
    if (size > sizeof out.data - out.used)
        return put_after_flush(data, size);
    std::memcpy(out.data + out.used, data, size);
    out.used += size;
}

void put(std::string_view text) { put(text.data(), text.size()); }

void put(char c)
{
    if (out.used == sizeof out.data)
        return put_after_flush(&c, 1);
    out.data[out.used++] = c;
}

// The bytes for which a test holds, for the loops that test every byte of a
// text.
struct byte_set {
    bool has[UCHAR_MAX + 1];
};

template <typename Test> constexpr byte_set byte_table(Test test)
{
    byte_set set{};
    for (unsigned c = 0; c <= UCHAR_MAX; ++c)
        set.has[c] = test(c);
    return set;
}

constexpr auto name_bytes = byte_table([](unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
});

// Makes a shell-safe name part: anything but [A-Za-z0-9_] becomes '_'. A
// name made so stays as it is when made again, as a section named twice is.
void to_shell_name(char* name)
{
    for (; *name != '\0'; ++name)
        if (!name_bytes.has[static_cast<unsigned char>(*name)])
            *name = '_';
}

bool object_is_allow(const char* name)
{
    for (const char* const allowed : user_allow)
        if (std::strcmp(name, allowed) == 0)
            return true;
    return false;
}

// Inside double quotes only " \ $ ` keep a meaning, and each is escaped with
// a backslash; inside apostrophes none does, and an apostrophe is written
// '"'"': the quotes closed, an apostrophe in double quotes, the quotes opened.
constexpr bool is_escaped(unsigned c, char quote)
{
    return quote == '\'' ? c == '\'' : c == '"' || c == '\\' || c == '$' || c == '`';
}

// In BIG5, BIG5-HKSCS, GBK, GB18030, Shift_JIS and JOHAB, a shell may read a
// byte above 0x7F together with the byte after it, and so miss what that byte
// means: a backslash that escapes; a digit, which bash in GB18030 then joins
// with the quote after it; one of & ( ) * ? [ ] | }, which ksh93, evaluating a
// quoted expansion, protects with a backslash that it then fails to remove;
// and, inside apostrophes too, a backslash, which ksh93 drops where its blocks
// of a command substitution's output split the character before it. In
// EUC-TW, 0x8E and a byte from 0xA1 to 0xB0 begin a character of four bytes,
// and bash takes the two bytes after them into it, whatever they are: the
// closing quote and the newline, say. So the quotes are closed and reopened
// between the two, wherever the pair falls; the escape of an apostrophe
// closes them itself.
constexpr auto break_before = byte_table([](unsigned c) {
    return (c >= '0' && c <= '9')
        || std::string_view("\\&()*?[]|}").find(static_cast<char>(c)) != std::string_view::npos;
});

constexpr bool needs_break(unsigned c, unsigned next, char quote)
{
    return c > 0x7F
        && (break_before.has[next] || (quote == '"' && is_escaped(next, quote))
            || (c == 0x8E && next >= 0xA1 && next <= 0xB0));
}

// The bytes that put_escaped must look at in each mode: the end, the escaped
// ones and those above 0x7F. All others are copied as they are.
constexpr auto stops_for(char quote)
{
    return byte_table([quote](unsigned c) { return c == 0 || c > 0x7F || is_escaped(c, quote); });
}
constexpr auto double_quote_stops = stops_for('"'), apostrophe_stops = stops_for('\'');

void put_escaped(const char* value)
{
    const auto& stops = kiv_quote == '\'' ? apostrophe_stops : double_quote_stops;
    // Bytes, whatever the signedness of char.
    const auto* const bytes = reinterpret_cast<const unsigned char*>(value);
    size_t run = 0; // the bytes from here on are passed over and not yet put
    size_t i = 0;
    for (;; ++i) {
        // The bytes copied as they are, passed over in a loop of their own,
        // which the compiler keeps tight.
        const unsigned char* p = bytes + i;
        while (!stops.has[*p])
            ++p;
        i = static_cast<size_t>(p - bytes); // p is at or after bytes
        const unsigned char c = *p;
        if (c == '\0')
            break;
        if (is_escaped(c, kiv_quote)) {
            put(value + run, i - run);
            if (c == '\'') {
                put("'\"'\"'");
            } else {
                put('\\');
                put(value[i]);
            }
            run = i + 1;
        } else if (needs_break(c, bytes[i + 1], kiv_quote)) {
            put(value + run, i + 1 - run);
            put(kiv_quote);
            put(kiv_quote);
            run = i + 1;
        }
    }
    put(value + run, i - run);
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

// An elevated run needs what it was granted only to open the file. Then
// nobody may read this process's memory, which holds what the caller may not
// see, whatever fs.suid_dumpable says; but the kernel makes a process
// dumpable again whenever one of its effective ids changes. So the real and
// effective ids are given up while the saved ones still keep the caller out,
// the process turns undumpable, and only then do the saved ids go, and with
// them, for a caller other than root, every capability, even one that the
// file itself granted.
bool drop_privileges(bool elevated, uid_t uid, gid_t gid)
{
    constexpr uid_t kept_uid = ~uid_t{}; // (uid_t) -1: the id stays as it is
    constexpr gid_t kept_gid = ~gid_t{};
    if (elevated && (setresgid(gid, gid, kept_gid) != 0 || setresuid(uid, uid, kept_uid) != 0))
        return false;
    // Every run turns undumpable: it costs one call, and an elevated run then
    // takes no path that an ordinary run doesn't.
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        return false;
    if (!elevated)
        return true;
    __user_cap_header_struct version = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    return setresgid(kept_gid, kept_gid, gid) == 0 && setresuid(kept_uid, kept_uid, uid) == 0
        && (uid == 0 || syscall(SYS_capset, &version, none) == 0);
}

// Released although the process ends right after, so that the sanitizers'
// leak check sees every other block as the leak it is.
using config_tree = std::unique_ptr<yajl_val_s, decltype([](yajl_val root) { free_config(root); })>;

} // namespace

int main(int argc, char** argv)
{
    // The caller's ids, and whether the exec was secure, from the kernel's
    // record of the exec: it marks an exec secure where it grants what the
    // caller lacks, by setuid, setgid, file capabilities or a security
    // module's transition.
    // Each an id of the kernel's, widened to unsigned long.
    const auto uid = static_cast<uid_t>(getauxval(AT_UID));
    const auto gid = static_cast<gid_t>(getauxval(AT_GID));
    const bool restricted = uid != 0;
    const bool elevated = getauxval(AT_SECURE) != 0;
    {
        const config_file file = open_config_file(elevated);
        if (!drop_privileges(elevated, uid, gid)) {
            write_message("error encountered on privilege drop\n");
            return 2;
        }
        const config_tree root(read_config_file(file));
        if (!root)
            return 2;
        print_selection(root.get(), argc, argv, restricted);
    }
    flush_output();
    if (out.failed) {
        write_message("error encountered on output write\n");
        return 1;
    }
    return 0;
}
