# What `cmake --install` puts on a system, and the Debian package made of it.
# Everything here belongs to the component `tavrin`: the package takes that component only, so a
# test or benchmark that ever gains an install rule cannot slip into it.
include(GNUInstallDirs)

set(tavrin_id io.github.tavrin.Tavrin)
set(tavrin_res ${PROJECT_SOURCE_DIR}/res)

# tavrin-measure sits beside tavrin, which runs it for `tavrin measure`.
install(TARGETS tavrin tavrin-measure RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tavrin)
install(FILES ${tavrin_res}/${tavrin_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tavrin)
install(FILES ${tavrin_res}/${tavrin_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT tavrin)

# Debian wants manual pages and the changelog compressed, without gzip's time stamp (-n) so the
# same sources make the same package. They are made with the program: scripts/package.sh and the
# package check build the target tavrin alone before cpack.
find_program(TAVRIN_GZIP gzip REQUIRED)
set(tavrin_gz_dir ${CMAKE_BINARY_DIR}/compressed)
set(tavrin_compressed)
foreach(name tavrin.1 tavrin-measure.1 changelog)
    add_custom_command(OUTPUT ${tavrin_gz_dir}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${tavrin_gz_dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${tavrin_res}/${name} ${tavrin_gz_dir}/${name}
        COMMAND ${TAVRIN_GZIP} -9nf ${tavrin_gz_dir}/${name}
        DEPENDS ${tavrin_res}/${name} VERBATIM)
    list(APPEND tavrin_compressed ${tavrin_gz_dir}/${name}.gz)
endforeach()
add_custom_target(tavrin_compressed_docs DEPENDS ${tavrin_compressed})
add_dependencies(tavrin tavrin_compressed_docs)

install(FILES ${tavrin_gz_dir}/tavrin.1.gz ${tavrin_gz_dir}/tavrin-measure.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tavrin)
# The licence in Debian's machine-readable form; the full GPL text is the system's own
# (/usr/share/common-licenses/GPL-3), so the package does not carry LICENSE again.
install(FILES ${tavrin_res}/copyright ${tavrin_gz_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tavrin)
install(FILES ${tavrin_res}/tavrin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${tavrin_id}.svg COMPONENT tavrin)
foreach(size 32 48 256)
    install(FILES ${tavrin_res}/icons/tavrin-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${tavrin_id}.png COMPONENT tavrin)
endforeach()

# cpack -G DEB: tavrin_0.94_amd64.deb. Its Depends comes from the libraries the program links.
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tavrin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sound card oscilloscope, frequency meter, multimeter and signal generator")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tavrin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS ${CMAKE_BINARY_DIR} tavrin tavrin /)
# A RelWithDebInfo tree packages as small a program as a Release one.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tavrin developers <tavrin@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Lines of at most 80 characters: dpkg shows them as they are.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavrin turns a PC sound card into a bench of measuring instruments:
a two-channel oscilloscope with X-Y and spectrum views, a frequency meter,
a multimeter reading R, C, L or AC level against a reference, a two-channel
signal generator on the line output, WAV recording and BMP screen saves.
A headless mode logs frequencies and levels from scripts.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The captions are Chinese in Chinese locales and need a CJK font; ALSA's default device reaches
# PulseAudio and PipeWire through the plugins.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-wqy-microhei | fonts-noto-cjk, libasound2-plugins, qt6-translations-l10n")
include(CPack)
