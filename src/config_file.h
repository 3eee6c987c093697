// SPDX-License-Identifier: ISC
#pragma once

#include <yajl/yajl_tree.h>

// Trees from read_config_file nest objects and arrays at most this deep.
constexpr unsigned max_config_depth = 10000;

// A descriptor, closed with its owner.
struct descriptor {
    explicit descriptor(int fd = -1)
        : fd(fd)
    {
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor();
    int fd;
};

// The configuration as opened with the ids the process started with: its
// descriptor, or none and the message that read_config_file is to give, if any.
struct config_file {
    descriptor file;
    const char* error;
};

// Opens the configuration without reading it or writing anything, so that a
// setuid run may give up its privileges before it reads. An elevated run
// opens it only through directories that root alone may change.
config_file open_config_file(bool elevated);

// Reads and parses an opened configuration into a tree, or returns null,
// after a message where one is due.
yajl_val read_config_file(const config_file& file);

// Releases a tree from read_config_file; null is accepted.
void free_config(yajl_val root);

// Writes a message to standard error.
void write_message(const char* message);
