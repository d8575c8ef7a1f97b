# Packages made by CPack from the install rules:
#   Linux:   cpack -G DEB  ->  karvelin_<version>_amd64.deb
#   Windows: cpack -G ZIP  ->  karvelin-<version>-win32.zip (karvelin.exe, README.txt, LICENSE.txt)
include(GNUInstallDirs)

set(KARVELIN_MAINTAINER "Karvelin developers <karvelin@example.org>")

set(CPACK_PACKAGE_NAME karvelin)
set(CPACK_PACKAGE_VENDOR "the Karvelin developers")
set(CPACK_PACKAGE_CONTACT "${KARVELIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for ultra-high-definition test sequences")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(CPACK_SYSTEM_NAME win32)
    else()
        set(CPACK_SYSTEM_NAME win64)
    endif()
    # Unpacked anywhere and started from there: the program, a short README
    # and the licence side by side, as text files with Windows line ends so
    # that every editor there shows them right.
    configure_file(${PROJECT_SOURCE_DIR}/packaging/win32/README.txt
                   ${PROJECT_BINARY_DIR}/packaging/README.unix @ONLY)
    foreach(pair "${PROJECT_BINARY_DIR}/packaging/README.unix;README.txt" "${PROJECT_SOURCE_DIR}/LICENSE;LICENSE.txt")
        list(GET pair 0 from)
        list(GET pair 1 to)
        file(READ ${from} text)
        string(REPLACE "\n" "\r\n" text "${text}")
        file(WRITE ${PROJECT_BINARY_DIR}/packaging/${to} "${text}")
        install(FILES ${PROJECT_BINARY_DIR}/packaging/${to} DESTINATION .)
    endforeach()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # CPack puts the summary first and indents these lines as Debian wants.
    set(CPACK_PACKAGE_DESCRIPTION
        "Karvelin shows and plays numbered still frames of up to 7680x4320 pixels:
DPX files, or three headerless 12-bit plane files per frame. It finds every
frame of the sequence a chosen file belongs to and plays it forwards or
backwards at 1/1, 1/2, 1/4 or 1/8 size, optionally converted from BT.2020 to
BT.709 primaries, or steps through it one frame at a time.

A second sequence can be compared with the first: A/B, wipe, side by side
and difference pictures, and exact per-frame metrics on the stored samples.

The package also holds karvelin-mkseq, which writes DPX and planar test
sequences with colour bars, a gray ramp, decimation checkers and frame
numbers, and karvelin-compare, which compares two sequences frame by frame
(PSNR, largest difference, differing samples, first difference) with an
exit status for scripts.")
    # The libraries the programs link are found by dpkg-shlibdeps; the Qt
    # platform plugins are loaded at run time, so no linker sees them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, shared-mime-info")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/deb/postinst ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

    # What Debian asks of every package: the licence in doc/<package>/copyright
    # and a gzipped changelog.
    set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
    file(WRITE ${PROJECT_BINARY_DIR}/packaging/copyright
         "karvelin ${PROJECT_VERSION}, a viewer for ultra-high-definition test sequences.\n\n"
         "${license_text}")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in
                   ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        COMMAND gzip -9nc changelog >changelog.gz
        DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging
        COMMENT "Package changelog")
    add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright
                  ${PROJECT_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${doc_dir})

    # `cmake --install` into a live prefix updates the desktop and MIME
    # databases there, as the package's maintainer scripts do, so that "Open
    # with" offers the viewer at once. Staged installs (DESTDIR, or CPack's
    # own folder) are left alone: the caches must not end up in a package.
    install(CODE "
        set(data \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}\")
        if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\" OR CMAKE_INSTALL_PREFIX MATCHES \"/_CPack_Packages/\")
            return()
        endif()
        find_program(update_desktop update-desktop-database)
        find_program(update_mime update-mime-database)
        if(update_desktop)
            execute_process(COMMAND \${update_desktop} -q \"\${data}/applications\")
        endif()
        if(update_mime)
            execute_process(COMMAND \${update_mime} \"\${data}/mime\")
        endif()
        message(STATUS \"Updated the desktop and MIME databases in \${data}\")")
endif()

include(CPack)
