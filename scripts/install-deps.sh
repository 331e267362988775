#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Quorvenda needs, then the
# subject model (scripts/fetch-subject-model.sh).
# Idempotent: when everything is present it installs nothing and prints nothing.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache git
  # Qt 6
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-pdf-dev qt6-multimedia-dev
  # media and document libraries
  libvips-dev libheif-dev libwebp-dev libarchive-dev libqpdf-dev libexiv2-dev ghostscript
  libtesseract-dev tesseract-ocr-eng libzxing-dev libopencv-dev libopencv-contrib-dev
  libavformat-dev libxml2-dev libcmark-gfm-dev libcmark-gfm-extensions-dev pandoc libplist-dev libcld2-dev
  # office documents and presentations
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  # playback in the media editor
  gstreamer1.0-plugins-good gstreamer1.0-libav
  libmupdf-dev libjbig2dec0-dev libgumbo-dev libmujs-dev libopenjp2-7-dev
  libharfbuzz-dev libfreetype-dev libjpeg-dev zlib1g-dev
  # desktop services: X11 (drags, hot key), feedback sounds
  libx11-dev libxfixes-dev libxi-dev libxcb1-dev libxcb-xfixes0-dev libcanberra-dev sound-theme-freedesktop
  # Wayland sessions: Qt's Wayland platform, layer surfaces on Qt's own connection
  qt6-wayland qt6-base-private-dev libwayland-dev wayland-protocols libxkbcommon-dev
  # worker sandbox
  libseccomp-dev
  # the subject model: fetched with npm, converted with python3-onnx (scripts/fetch-subject-model.sh)
  python3-onnx openssl
  # tests
  libgtest-dev libgmock-dev xvfb xauth fonts-dejavu-core
  # Chinese and Japanese text in documents drawn to PDF (a font with no monospace face of its own)
  fonts-wqy-microhei
  qpdf poppler-utils libvips-tools ffmpeg libxtst-dev dbus exiv2 epubcheck python3-openpyxl python3-docx
  zip unzip xz-utils bzip2 xclip
  # what Remove Meta leaves is checked against exiftool
  libimage-exiftool-perl
  # solid RAR 4 archives, which libarchive unpacks only to their first file
  unar
  # a desktop thumbnailer the wheel's centre picture runs behind the workers' walls (e-book covers)
  gnome-epub-thumbnailer
  # a FAT disk through FUSE, which folds and refuses names like a stick does
  dosfstools fusefat
  # 7-Zip lists archives and checks their checksums for scripts/sweep-files.py
  p7zip-full
  # multi-page TIFFs with pages of different sizes are made and read back with libtiff's tools
  libtiff-tools
  # a notification daemon whose D-Bus service the private test buses must not start
  dunst
  # a sound server of the tests' own, which the player reaches from behind its walls
  pipewire pipewire-bin pipewire-pulse wireplumber
  # GNOME Shell: the extension's tests (gjs) and the headless Shell the drag tests run in
  gjs gnome-shell mutter qt6-wayland
  # GNOME's tray: the AppIndicator extension the tray test opens the menu in
  gnome-shell-extension-appindicator
  # the desktop portal the hot key's test goes through, to a desktop backend of the test's own
  xdg-desktop-portal
  # a window manager for the tests of window placement under title bars
  openbox
  # an XEmbed system tray whose docked icon the tray drop tests drag files onto
  trayer
  # compositors run headless by the Wayland tests, the protocol of KWin's fake input, and the
  # portals of Wayland sessions
  sway kwin-wayland plasma-wayland-protocols xdg-desktop-portal xdg-desktop-portal-kde
  # other programs' copies and trays in those sessions: a file manager, wl-copy, a tray host,
  # and libdbusmenu's bindings, through which the tray tests read the menu as waybar does; grim
  # takes the screen as the compositor shows it
  thunar wl-clipboard waybar python3-gi gir1.2-dbusmenu-glib-0.4 grim
  # the other file managers users drag files out of, natively on each compositor (Dolphin's Qt 5
  # needs its Wayland platform)
  nautilus dolphin qtwayland5
  # fuzz targets (libFuzzer and the sanitizers' runtimes)
  clang-14 libclang-rt-14-dev
  # benchmarks, and the peers they measure against (jpegtran, bsdtar, cmark-gfm), perf's
  # processor time over a process tree
  libbenchmark-dev imagemagick xlsx2csv mupdf-tools tesseract-ocr
  libjpeg-turbo-progs libarchive-tools cmark-gfm linux-perf strace
  # photo cut-outs and backgrounds for the subject-mask benchmark
  tuxpaint-stamps-default tuxpaint-data
)

# npm may come with a Node.js of another origin; Debian's package only when there is none.
command -v npm >/dev/null || PACKAGES+=(npm)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

"$(dirname "$0")/fetch-subject-model.sh"
