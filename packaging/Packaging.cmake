# The Debian package: Bunkmere and its site check in the family's layout (the programs in
# /opt/VELTRANE.APP, the site file in /opt/Veltrane.Cfg beside it), a desktop menu entry with
# the program's icon, and the documents Debian asks for. `cmake --build --preset default
# --target package` or scripts/package builds it.
if(NOT TARGET Bunkmere OR NOT TARGET bunkmere-sitecheck)
  return()
endif()
# The Windows build ships as an installer package and a zip (scripts/package-windows), not as a
# Debian package.
if(WIN32)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Gui)

set(PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(BUNKMERE_APP_DIR opt/VELTRANE.APP/Bunkmere)
set(BUNKMERE_DOC_DIR usr/share/doc/bunkmere)
set(BUNKMERE_ICON_SIZES 16 22 24 32 48 64 128 256)

# Icons at the theme's sizes, made from the icon the program carries.
add_executable(bunkmere_icon_sizes ${PACKAGING_DIR}/IconSizes.cpp)
target_link_libraries(bunkmere_icon_sizes PRIVATE Qt6::Gui)
set(icon_files)
foreach(size IN LISTS BUNKMERE_ICON_SIZES)
  list(APPEND icon_files ${PACKAGING_OUT}/icons/${size}x${size}/apps/bunkmere.png)
endforeach()
add_custom_command(
  OUTPUT ${icon_files}
  COMMAND bunkmere_icon_sizes ${PROJECT_SOURCE_DIR}/app/Bunkmere.png ${PACKAGING_OUT}/icons
          bunkmere ${BUNKMERE_ICON_SIZES}
  DEPENDS bunkmere_icon_sizes ${PROJECT_SOURCE_DIR}/app/Bunkmere.png
  COMMENT "Making the menu icons")

# Debian wants these compressed to the maximum, without a time stamp.
function(bunkmere_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()
bunkmere_gzip(${PACKAGING_DIR}/changelog ${PACKAGING_OUT}/changelog.gz)
bunkmere_gzip(${PACKAGING_DIR}/bunkmere-sitecheck.1 ${PACKAGING_OUT}/bunkmere-sitecheck.1.gz)
add_custom_target(bunkmere_package_files ALL
  DEPENDS ${icon_files} ${PACKAGING_OUT}/changelog.gz ${PACKAGING_OUT}/bunkmere-sitecheck.1.gz)

# The site check on the administrator's PATH; run through the link it still searches from
# the program's folder, since the system reports the link's target as the running program.
file(MAKE_DIRECTORY ${PACKAGING_OUT}/bin)
file(CREATE_LINK /${BUNKMERE_APP_DIR}/bunkmere-sitecheck ${PACKAGING_OUT}/bin/bunkmere-sitecheck
     SYMBOLIC)

# Shipped programs resolve every symbol at start, so their relocations can be read-only.
foreach(program IN ITEMS Bunkmere bunkmere-sitecheck)
  target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
install(TARGETS Bunkmere bunkmere-sitecheck RUNTIME DESTINATION ${BUNKMERE_APP_DIR})
install(FILES ${PACKAGING_OUT}/bin/bunkmere-sitecheck DESTINATION usr/bin)
install(PROGRAMS ${PACKAGING_DIR}/bunkmere-desktop DESTINATION usr/libexec/bunkmere)
install(FILES ${PACKAGING_DIR}/bunkmere.desktop DESTINATION usr/share/applications)
foreach(size IN LISTS BUNKMERE_ICON_SIZES)
  install(FILES ${PACKAGING_OUT}/icons/${size}x${size}/apps/bunkmere.png
          DESTINATION usr/share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PACKAGING_OUT}/bunkmere-sitecheck.1.gz DESTINATION usr/share/man/man1)
install(FILES ${PACKAGING_DIR}/copyright ${PACKAGING_OUT}/changelog.gz
        DESTINATION ${BUNKMERE_DOC_DIR})
# Only an example: the package never installs or replaces a site's own file.
install(FILES ${PACKAGING_DIR}/Veltrane.ini DESTINATION ${BUNKMERE_DOC_DIR}/examples)
# What --summary writes, for a site's monitoring to check against.
install(FILES ${PACKAGING_DIR}/bunkmere-occupancy.schema.json DESTINATION ${BUNKMERE_DOC_DIR})
# The scheduled synchronisation: a service and its nightly timer (left disabled), and the
# system user they run as, made when the package is configured.
install(FILES ${PACKAGING_DIR}/systemd/bunkmere-sync.service ${PACKAGING_DIR}/systemd/bunkmere-sync.timer
        DESTINATION usr/lib/systemd/system)
install(FILES ${PACKAGING_DIR}/systemd/bunkmere.sysusers DESTINATION usr/lib/sysusers.d
        RENAME bunkmere.conf)
install(FILES ${PACKAGING_DIR}/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME bunkmere)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bunkmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Bunkmere developers")
set(CPACK_PACKAGE_CONTACT "The Bunkmere developers <bunkmere@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a jail's cell and bed occupancy true")
# The extended description; the summary above is its first line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "Bunkmere walks every facility, dorm, cell and bed of a jail housing\n"
       "database on Microsoft SQL Server, counts the current bookings of each,\n"
       "writes each cell's occupancy and each bed's availability back, and lists\n"
       "every conflict in a log. It finds its database through the Veltrane\n"
       "family's site file and program library; bunkmere-sitecheck tells an\n"
       "administrator whether it would connect, and if not, why.")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt 6 Widgets and unixODBC come from the programs' own library needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's stored face is a Windows one; FreeSans stands in for it with the same widths.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-freefont-ttf)
# FreeTDS reaches SQL Server; a site may install Microsoft's ODBC driver instead.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS tdsodbc)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PACKAGING_DIR}/systemd/postinst)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
include(CPack)
