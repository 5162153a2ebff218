# Installing and packaging veltrane-upgrade for Debian: the program, its
# manual page (made from --help by help2man), the README and copyright file,
# and a .deb whose dependencies dpkg-shlibdeps works out from the binary.
include(GNUInstallDirs)
install(TARGETS veltrane-upgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

option(VELTRANE_PACKAGE "Build the manual page and the Debian package's files" OFF)
if(NOT VELTRANE_PACKAGE)
  return()
endif()

# No build path in the program, wherever the tree is: the build tree is named
# first (GCC tries the last map first), then the sources.
string(APPEND CMAKE_CXX_FLAGS
       " -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/veltrane-upgrade)
set(package_dir ${CMAKE_CURRENT_SOURCE_DIR}/resources/package)

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(man_page ${CMAKE_CURRENT_BINARY_DIR}/veltrane-upgrade.1)
# help2man dates the page from SOURCE_DATE_EPOCH (tools/package sets it to the
# commit's time): another time makes the page again.
set(man_date ${CMAKE_CURRENT_BINARY_DIR}/man_page_date)
file(CONFIGURE OUTPUT ${man_date} CONTENT "$ENV{SOURCE_DATE_EPOCH}\n")
add_custom_command(
  OUTPUT ${man_page}.gz
  COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
          --name "upgrade the flash firmware of a Veltrane USB webcam"
          --include ${package_dir}/veltrane-upgrade.h2m --output ${man_page}
          $<TARGET_FILE:veltrane-upgrade>
  # -n: no time stamp, so the same sources make the same package.
  COMMAND ${GZIP} -9 -n -f ${man_page}
  DEPENDS veltrane-upgrade ${package_dir}/veltrane-upgrade.h2m ${man_date}
  COMMENT "Writing the manual page from --help")
add_custom_target(veltrane_man_page ALL DEPENDS ${man_page}.gz)
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${GZIP} -9 -n -c ${package_dir}/changelog > ${changelog}
  DEPENDS ${package_dir}/changelog)
add_custom_target(veltrane_changelog ALL DEPENDS ${changelog})
# The user's README; the developers' README.md stays in the sources.
install(FILES ${changelog} ${package_dir}/copyright ${package_dir}/README DESTINATION ${doc_dir})

# The packages' tests: tools/package builds both into build/packages/ first.
set(packages_dir ${CMAKE_CURRENT_SOURCE_DIR}/build/packages)
enable_testing()
add_test(NAME package_deb
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_deb.sh
                 ${packages_dir}/veltrane-upgrade_${PROJECT_VERSION}_amd64.deb ${PROJECT_VERSION})
add_test(NAME package_zip
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_zip.sh
                 ${packages_dir}/VeltraneUpgrade-${PROJECT_VERSION}-win64.zip ${PROJECT_VERSION}
                 ${CMAKE_CURRENT_SOURCE_DIR}/build/mingw/tests/wine/gui_driver.exe)
# The same packages again, from scratch in another tree and without ccache.
add_test(NAME package_rebuild
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check_rebuild.sh ${packages_dir})
set_tests_properties(package_deb package_zip PROPERTIES LABELS package TIMEOUT 600)
set_tests_properties(package_rebuild PROPERTIES LABELS package TIMEOUT 1500)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrane-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Veltrane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade the flash firmware of a Veltrane USB webcam")
# The long description; the synopsis above is its first line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "veltrane-upgrade finds the camera through the kernel's UVC driver, shows\n"
  "the firmware it runs, and writes the firmware it carries into the camera's\n"
  "flash through its UVC extension unit, with progress, verification and a\n"
  "restart. The camera's own settings are backed up before anything is\n"
  "erased. A built-in camera simulator (--simulate) shows every step without\n"
  "the hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltrane Firmware Team <firmware@veltrane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
