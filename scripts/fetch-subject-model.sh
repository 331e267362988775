#!/usr/bin/env bash
# Fetches the subject model for background removal once: the ISNet network of the npm package
# @imgly/background-removal-data 1.4.5 (AGPL-3.0), checked against the integrity pinned here,
# assembled from its chunks and converted to float32 for OpenCV into data/models/, from where
# the build links it and `cmake --install` and the Debian package carry it.
# Needs npm and python3-onnx (scripts/install-deps.sh installs them). Prints nothing when the
# model is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target="$root/data/models/subject-mask.onnx"
package="@imgly/background-removal-data@1.4.5"
integrity="sha512-iRXZpPd7YirbJ4eOZ3SlvbdJkAc/LxVjzWLMHOezmRrVThPJPdPc+Y2kHEAVFEVvpDIuvBDyOfTTFBSJT2QR5w=="

[ -s "$target" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Fetching the subject model ($package, about 140 MB)"
(cd "$work" && npm pack --silent "$package" > name.txt)
tarball="$work/$(tail -1 "$work/name.txt")"
actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
if [ "$actual" != "$integrity" ]; then
    echo "The subject model's package does not match its pinned integrity" >&2
    exit 1
fi
tar -xzf "$tarball" -C "$work"
mkdir -p "$(dirname "$target")"
/usr/bin/python3 "$root/scripts/convert-subject-model.py" "$work/package" "$target"
cp "$work/package/LICENSE.md" "$(dirname "$target")/subject-mask-LICENSE.md"
