# At every start the dynamic linker looks each symbol up in the program's libraries in the order
# the program names them, then in their own, breadth first: a worker or the driver makes some
# 40,000 lookups through about 150 libraries, and most of its start goes there. Naming first the
# libraries most lookups end in (counted with LD_DEBUG=bindings), all of which these programs
# load anyway through what they link, ends most lookups within a few libraries: some 40 % fewer
# of the linker's instructions at every start. Only the order changes. Every symbol binds where
# it did, but for which of several identical copies wins (inline C++ code that many libraries
# carry, the maths functions both libc and libm have).
set(QV_LOAD_FIRST
    libc.so.6 libcrypto.so.3 libQt6Core.so.6 libstdc++.so.6 libqpdf.so.29 libQt6Gui.so.6
    libOpenEXR-3_1.so.30 libvips.so.42 libexiv2.so.27 libIex-3_1.so.30 libfftw3.so.3
    libhdf5_serial.so.103 libglib-2.0.so.0 libnettle.so.8 libicuuc.so.72 libgnutls.so.30
    libunistring.so.2 libdbus-1.so.3 libpango-1.0.so.0 libLerc.so.4 libcairo.so.2
    libldap-2.5.so.0 libarchive.so.13 libQt6DBus.so.6 libhogweed.so.6 libmount.so.1
    libsystemd.so.0 libharfbuzz.so.0 libX11.so.6 libmujs.so.2 libpng16.so.16 libxml2.so.2
    libgobject-2.0.so.0 libcmark-gfm.so.0.29.0.gfm.6 libfreetype.so.6 libgmp.so.10
    libzstd.so.1 libjpeg.so.62 libselinux.so.1 libm.so.6 libb2.so.1 libz.so.1 liblzma.so.5
    libblkid.so.1 libp11-kit.so.0 libdouble-conversion.so.3 libtasn1.so.6 libfontconfig.so.1
    libpcre2-8.so.0 libcld2.so.0 libbz2.so.1.0 libacl.so.1 libcap.so.2)

# Those above that only libvips brings: where it is opened on first use (QV_VIPS_OPENED_LATE),
# naming them would load them at every start again.
set(QV_LOAD_WITH_VIPS
    libvips.so.42 libOpenEXR-3_1.so.30 libIex-3_1.so.30 libfftw3.so.3 libhdf5_serial.so.103
    libpango-1.0.so.0 libLerc.so.4 libcairo.so.2 libldap-2.5.so.0 libcrypto.so.3)

# The paths of the libraries named (sonames) that this system has, in their order.
function(quorvenda_found_libraries out)
    set(paths "")
    foreach(soname IN LISTS ARGN)
        string(MAKE_C_IDENTIFIER "QV_LOAD_${soname}" variable)
        find_file(${variable} ${soname} PATHS ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} NO_DEFAULT_PATH)
        if(${variable})
            list(APPEND paths ${${variable}})
        endif()
    endforeach()
    set(${out} ${paths} PARENT_SCOPE)
endfunction()

# Names the libraries above first in target's list, then the further ones given after the target
# (only what that program loads anyway); those this system lacks are left out.
function(quorvenda_load_order target)
    if(QV_SANITIZE)
        return() # a sanitizer's runtime must come first
    endif()
    set(first ${QV_LOAD_FIRST} ${ARGN})
    if(QV_VIPS_OPENED_LATE)
        list(REMOVE_ITEM first ${QV_LOAD_WITH_VIPS})
    endif()
    quorvenda_found_libraries(paths ${first})
    if(paths)
        target_link_options(${target} BEFORE PRIVATE "LINKER:--push-state,--no-as-needed" ${paths}
            "LINKER:--pop-state")
    endif()
endfunction()

# libvips' own libraries, opened with it, look their symbols up among themselves first
# (engines/image/VipsLibrary), in the order libvips names them: libc came 31st and libcrypto 82nd,
# some 45 libraries passed by for each of its 26,000 lookups. Here in the order most lookups end
# in (counted with LD_DEBUG=bindings), each library that repeats another's symbols still ahead of
# it (libm of libc, libbsd of libmd, the two curls, xcb-shm of X11, OpenEXR of libstdc++).
set(QV_VIPS_LOAD_FIRST
    libcrypto.so.3 libm.so.6 libc.so.6 libOpenEXR-3_1.so.30 libstdc++.so.6 libglib-2.0.so.0
    libvips.so.42 libIex-3_1.so.30 libfftw3.so.3 libhdf5_serial.so.103 libgnutls.so.30
    libgio-2.0.so.0 libnettle.so.8 libgobject-2.0.so.0 libunistring.so.2 libpango-1.0.so.0
    libLerc.so.4 libcairo.so.2 libcurl-gnutls.so.4 libcurl.so.4 libldap-2.5.so.0
    libharfbuzz.so.0 liblcms2.so.2 libpng16.so.16 libhogweed.so.6 libmount.so.1 libxcb-shm.so.0
    libX11.so.6 libssl.so.3 libfreetype.so.6 liblber-2.5.so.0 libjpeg.so.62 libxml2.so.2
    libssh2.so.1 libgmp.so.10 libexif.so.12 libcfitsio.so.10 libtiff.so.6 libgssapi_krb5.so.2
    libpixman-1.so.0 libzstd.so.1 libselinux.so.1 libfontconfig.so.1 libz.so.1 libnghttp2.so.14
    libblkid.so.1 libp11-kit.so.0 libgdk_pixbuf-2.0.so.0 libbsd.so.0 libmd.so.0 liblzma.so.5
    libsasl2.so.2 libIlmThread-3_1.so.30 libtasn1.so.6 libxcb.so.1 libxcb-render.so.0
    libpcre2-8.so.0 libwebp.so.7 libcairo-gobject.so.2 libopenjp2.so.7 libXrender.so.1
    libthai.so.0 librtmp.so.1 libbz2.so.1.0 libdatrie.so.1 libpangocairo-1.0.so.0
    libimagequant.so.0 libjbig.so.0 libgsf-1.so.114 libaec.so.0 libkrb5.so.3)

# Makes target a library of nothing but the list above, in its order (those this system lacks
# left out): opened in libvips' place, its list is the order their lookups take.
function(quorvenda_vips_load_order target)
    quorvenda_found_libraries(paths ${QV_VIPS_LOAD_FIRST})
    target_link_options(${target} PRIVATE "LINKER:--push-state,--no-as-needed" ${paths} "LINKER:--pop-state")
endfunction()
