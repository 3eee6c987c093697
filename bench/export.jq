# SPDX-License-Identifier: ISC
# The whole-document export done with jq: same prefixes and name mapping,
# values quoted by @sh. Usage: jq -r -f export.jq configuration
def name: gsub("[^A-Za-z0-9_]"; "_");
def lines($prefix):
  to_entries[]
  | (.key | name) as $key
  | if (.value | type) == "object" then .value | lines($key)
    elif (.value | type) == "string" then
      "\(if $prefix | test("^[0-9]") then "_" else "" end)\($prefix)_\($key)=\(.value | @sh)"
    else empty end;
if type == "object" then lines("") else empty end
