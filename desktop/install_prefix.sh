#!/bin/sh
# Installs the desktop files into a prefix and makes the loader cache and
# the file type database there, for programs started with
# GDK_PIXBUF_MODULE_FILE=PREFIX/loaders.cache XDG_DATA_DIRS=PREFIX/share:...
#   install_prefix.sh BUILD PREFIX QUERY_LOADERS SYSTEM_LOADER_DIR OUR_LOADER
set -eu
build=$1 prefix=$2 query=$3 system=$4 ours=$5
cmake --install "$build" --prefix "$prefix" --component desktop
"$query" "$system"/*.so "$ours" > "$prefix/loaders.cache"
grep -q '"image/x-zr"' "$prefix/loaders.cache"
update-mime-database "$prefix/share/mime"
grep -q '^image/x-zr' "$prefix/share/mime/types"
