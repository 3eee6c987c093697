#pragma once

#include <yajl/yajl_tree.h>

// Loads the system configuration into a tree, or returns null after
// reporting why (some failures are silent by design).
yajl_val read_config_file();

// Releases a tree from read_config_file; null is accepted.
void free_config(yajl_val root);
