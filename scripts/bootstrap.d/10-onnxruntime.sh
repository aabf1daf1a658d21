#!/usr/bin/env bash
# ONNX Runtime: the linux-x64 library from the npm package onnxruntime-node, the C API headers from
# Debian's libonnxruntime-dev of the next release (headers only). Both pinned and checksummed.
set -euo pipefail
version=1.21.0
tgz_sha256=c711a4048a8b460a70de25a5008b1628e3773878ef9deec1dd4a4ccab46de01a
deb_name="libonnxruntime-dev_1.21.0+dfsg-1_amd64.deb"
deb_sha256=14f7d959d5deacbcf1504830d4189f91fc67382b399ed9ae9d3aa9c4050ced08
dest="$QM_CACHE/onnxruntime-$version"
downloads="$QM_CACHE/downloads"
mkdir -p "$downloads"

check() { echo "$2  $1" | sha256sum -c --status; }

if [ -f "$dest/lib/libonnxruntime.so.$version" ] && [ -f "$dest/include/onnxruntime_c_api.h" ]; then
    exit 0
fi

tgz="$downloads/onnxruntime-node-$version.tgz"
if ! [ -f "$tgz" ] || ! check "$tgz" "$tgz_sha256"; then
    rm -f "$tgz"
    (cd "$downloads" && npm pack "onnxruntime-node@$version" --silent >/dev/null)
fi
check "$tgz" "$tgz_sha256" || { echo "bootstrap: checksum mismatch for $tgz" >&2; exit 1; }

deb="$downloads/$deb_name"
if ! [ -f "$deb" ] || ! check "$deb" "$deb_sha256"; then
    rm -f "$deb"
    apt_dir="$(mktemp -d)"
    trap 'rm -rf "$apt_dir"' EXIT
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    echo "deb http://deb.debian.org/debian trixie main" > "$apt_dir/sources.list"
    opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
          -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::Archives="$apt_dir/archives"
          -o APT::Sandbox::User=root -o Debug::NoLocking=1)
    apt-get "${opts[@]}" update -qq
    (cd "$downloads" && apt-get "${opts[@]}" download "libonnxruntime-dev=1.21.0+dfsg-1" -qq)
fi
check "$deb" "$deb_sha256" || { echo "bootstrap: checksum mismatch for $deb" >&2; exit 1; }

work="$(mktemp -d)"
tar -xzf "$tgz" -C "$work" package/bin/napi-v3/linux/x64/libonnxruntime.so.$version
dpkg -x "$deb" "$work/deb"
rm -rf "$dest.partial"
mkdir -p "$dest.partial/lib" "$dest.partial/include"
cp "$work/package/bin/napi-v3/linux/x64/libonnxruntime.so.$version" "$dest.partial/lib/"
cp -r "$work/deb/usr/include/onnxruntime/." "$dest.partial/include/"
rm -rf "$work" "$dest"
mv "$dest.partial" "$dest"
echo "bootstrap: ONNX Runtime $version in $dest"
