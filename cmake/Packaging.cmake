# `cpack -G DEB` in the build folder makes quorvenda_<version>_<arch>.deb. Libraries the binaries
# link are found by dpkg-shlibdeps; programs we start are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvenda)
set(CPACK_PACKAGE_VENDOR "Quorvenda")
set(CPACK_PACKAGE_CONTACT "Quorvenda developers <quorvenda@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert files and run tools on them from a wheel while dragging")
set(CPACK_PACKAGE_DESCRIPTION
    "A tray utility: while files are dragged, a tap of a modifier opens a wheel under the pointer;\n\
dropping on a segment converts, compresses, resizes, crops, trims, merges, splits, reads text from\n\
or archives them. Results are written beside the originals, never over them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libheif is opened when a HEIF or AVIF file comes, and libvips when the first picture does, not
# linked: named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "ffmpeg, pandoc, ghostscript, tesseract-ocr-eng, gstreamer1.0-plugins-good, gstreamer1.0-libav, \
sound-theme-freedesktop, libheif1, libvips42")
# Office conversions, the clipboard's file copies and native Wayland sessions; the rest works
# without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libreoffice-writer-nogui, libreoffice-calc-nogui, libreoffice-impress-nogui, xclip, qt6-wayland, unar")
include(CPack)
