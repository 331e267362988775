# At every start the dynamic linker looks each symbol up in the program's libraries in the order
# the program names them, then in their own, breadth first: a worker or the driver makes some
# 40,000 lookups through about 150 libraries, and most of its start goes there. Naming first the
# libraries most lookups end in (counted with LD_DEBUG=bindings), all of which these programs
# load anyway through what they link, ends most lookups within a few libraries: some 40 % fewer
# of the linker's instructions at every start. Only the order changes. Every symbol binds where
# it did, but for which of several identical copies wins (inline C++ code that many libraries
# carry, the maths functions both libc and libm have).
set(QV_LOAD_FIRST
    libc.so.6 libcrypto.so.3 libQt6Core.so.6 libstdc++.so.6 libQt6Gui.so.6 libglib-2.0.so.0
    libqpdf.so.29 libOpenEXR-3_1.so.30 libvips.so.42 libexiv2.so.27 libIex-3_1.so.30
    libfftw3.so.3 libhdf5_serial.so.103 libgnutls.so.30 libgio-2.0.so.0 libnettle.so.8
    libicuuc.so.72 libgobject-2.0.so.0 libdbus-1.so.3 libunistring.so.2 libpango-1.0.so.0
    libLerc.so.4 libcairo.so.2 libldap-2.5.so.0 libharfbuzz.so.0)

# Those above that only libvips brings: where it is opened on first use (QV_VIPS_OPENED_LATE),
# naming them would load them at every start again.
set(QV_LOAD_WITH_VIPS
    libvips.so.42 libOpenEXR-3_1.so.30 libIex-3_1.so.30 libfftw3.so.3 libhdf5_serial.so.103
    libpango-1.0.so.0 libLerc.so.4 libcairo.so.2 libldap-2.5.so.0 libcrypto.so.3)

# Names the libraries above first in target's list; those this system lacks are left out.
function(quorvenda_load_order target)
    if(QV_SANITIZE)
        return() # a sanitizer's runtime must come first
    endif()
    set(first ${QV_LOAD_FIRST})
    if(QV_VIPS_OPENED_LATE)
        list(REMOVE_ITEM first ${QV_LOAD_WITH_VIPS})
    endif()
    set(paths "")
    foreach(soname IN LISTS first)
        string(MAKE_C_IDENTIFIER "QV_LOAD_${soname}" variable)
        find_file(${variable} ${soname} PATHS ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} NO_DEFAULT_PATH)
        if(${variable})
            list(APPEND paths ${${variable}})
        endif()
    endforeach()
    if(paths)
        target_link_options(${target} BEFORE PRIVATE "LINKER:--push-state,--no-as-needed" ${paths}
            "LINKER:--pop-state")
    endif()
endfunction()
