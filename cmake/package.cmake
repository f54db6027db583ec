# The Debian package (cmake --build build --target package): the application folder as it stands in
# build/app, under /usr/lib/vexa; the launcher as /usr/bin/vexa; desktop entry, icons, AppStream
# data, man pages and the udev rule for real pads. packaging/linux holds the sources.
set(VEXA_PACKAGE_REVISION "1" CACHE STRING "Debian revision of the package (raise it for a rebuild of the same version)")
set(VEXA_PACKAGE_MAINTAINER "vexa developers <vexa@parvex.invalid>" CACHE STRING "Maintainer field of the package")
set(VEXA_PACKAGE_VERSION "${PROJECT_VERSION}-${VEXA_PACKAGE_REVISION}")

set(linux_sources ${CMAKE_SOURCE_DIR}/packaging/linux)
set(package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${package_dir}/icons)

# The launcher compares this stamp with the one in the user's folder.
file(WRITE ${package_dir}/package-version.in "${VEXA_PACKAGE_VERSION}\n")
configure_file(${package_dir}/package-version.in ${package_dir}/package-version COPYONLY)
configure_file(${linux_sources}/com.parvex.vexa.metainfo.xml ${package_dir}/com.parvex.vexa.metainfo.xml @ONLY)
configure_file(${linux_sources}/changelog.Debian.in ${package_dir}/changelog.Debian @ONLY)

# Compressed as Debian wants them: gzip -9n gives the same bytes on every build.
find_program(VEXA_GZIP gzip REQUIRED)
set(package_generated)
foreach(page vexa padctl)
  configure_file(${linux_sources}/${page}.1 ${package_dir}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${package_dir}/${page}.1.gz
    COMMAND ${VEXA_GZIP} -9nc ${package_dir}/${page}.1 > ${package_dir}/${page}.1.gz
    DEPENDS ${package_dir}/${page}.1 VERBATIM)
  list(APPEND package_generated ${package_dir}/${page}.1.gz)
endforeach()
add_custom_command(OUTPUT ${package_dir}/changelog.Debian.gz
  COMMAND ${VEXA_GZIP} -9nc ${package_dir}/changelog.Debian > ${package_dir}/changelog.Debian.gz
  DEPENDS ${package_dir}/changelog.Debian VERBATIM)
list(APPEND package_generated ${package_dir}/changelog.Debian.gz)

find_program(VEXA_RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_sizes 16 22 24 32 48 64 128 256)
foreach(size ${icon_sizes})
  add_custom_command(OUTPUT ${package_dir}/icons/vexa-${size}.png
    COMMAND ${VEXA_RSVG_CONVERT} --width ${size} --height ${size} --output ${package_dir}/icons/vexa-${size}.png
            ${linux_sources}/vexa.svg
    DEPENDS ${linux_sources}/vexa.svg VERBATIM)
  list(APPEND package_generated ${package_dir}/icons/vexa-${size}.png)
endforeach()
add_custom_target(vexa_package_files ALL DEPENDS ${package_generated})

file(CREATE_LINK ../lib/vexa/padctl ${package_dir}/padctl SYMBOLIC)

# The application folder, exactly the files of build/app that the program needs.
install(TARGETS vexa Updater CrashReporter padctl RUNTIME DESTINATION lib/vexa)
install(TARGETS padio LIBRARY DESTINATION lib/vexa)
# The Linux files replace the page package's own, as in build/app. The replaced files are left out of
# the first install rather than overwritten by the second: install skips a file whose time stamp
# equals the installed one's, and in a fresh clone the two sources often share one.
function(vexa_install_with_overlay base overlay destination)
  file(GLOB_RECURSE overlay_files RELATIVE ${overlay} ${overlay}/*)
  set(excludes)
  foreach(f ${overlay_files})
    string(REGEX REPLACE "([.+])" "\\\\\\1" f_regex "${f}")
    list(APPEND excludes REGEX "/${f_regex}$" EXCLUDE)
  endforeach()
  install(DIRECTORY ${base}/ DESTINATION ${destination} ${excludes})
  install(DIRECTORY ${overlay}/ DESTINATION ${destination})
endfunction()
vexa_install_with_overlay(${CMAKE_SOURCE_DIR}/view ${CMAKE_SOURCE_DIR}/data/view-linux lib/vexa/view)
vexa_install_with_overlay(${VEXA_DATA_DIR}/Resources ${VEXA_DATA_DIR}/resources-linux lib/vexa/Resources)
install(FILES ${package_dir}/package-version DESTINATION lib/vexa)

install(TARGETS vexa-launcher RUNTIME DESTINATION bin)
install(FILES ${package_dir}/padctl DESTINATION bin)
install(FILES ${linux_sources}/com.parvex.vexa.desktop DESTINATION share/applications)
install(FILES ${package_dir}/com.parvex.vexa.metainfo.xml DESTINATION share/metainfo)
install(FILES ${linux_sources}/vexa.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size ${icon_sizes})
  install(FILES ${package_dir}/icons/vexa-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME vexa.png)
endforeach()
install(FILES ${package_dir}/vexa.1.gz ${package_dir}/padctl.1.gz DESTINATION share/man/man1)
install(FILES ${linux_sources}/70-vexa.rules DESTINATION lib/udev/rules.d)
install(FILES ${linux_sources}/copyright ${package_dir}/changelog.Debian.gz DESTINATION share/doc/vexa)
install(FILES ${linux_sources}/lintian-overrides DESTINATION share/lintian/overrides RENAME vexa)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexa)
set(CPACK_PACKAGE_VENDOR "vexa developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool of the PARVEX PX-ORB42 game pad")
set(CPACK_PACKAGE_DESCRIPTION "vexa lists the connected PX-ORB42 pads and reads and writes their
settings, memory and macros, keeps profiles, switches the pad's mode when
a bound program runs, records keyboard macros, lives in the notification
area and updates itself and the pad's firmware. Without a pad it works
against a virtual one (padctl).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VEXA_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VEXA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Latin text in the page falls back to a serif font without it; hicolor holds the icons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "hicolor-icon-theme")
# Ours, so that CPack adds no ldconfig call for a library that is no system library.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${linux_sources}/postinst ${linux_sources}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
