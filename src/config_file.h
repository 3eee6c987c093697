// SPDX-License-Identifier: ISC
#pragma once

#include <yajl/yajl_tree.h>

// Trees from read_config_file nest objects and arrays at most this deep.
constexpr unsigned max_config_depth = 10000;

// The configuration as opened with the ids the process started with: its
// descriptor, or -1 and the message that read_config_file is to give, if any.
struct config_file {
    int fd;
    const char* error;
    ~config_file();
};

// Opens the configuration without reading it or writing anything, so that a
// setuid run may give up its privileges before it reads.
config_file open_config_file();

// Reads and parses an opened configuration into a tree, or returns null
// after reporting why (some failures are silent by design).
yajl_val read_config_file(const config_file& file);

// Releases a tree from read_config_file; null is accepted.
void free_config(yajl_val root);
