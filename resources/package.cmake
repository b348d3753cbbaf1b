# Packaging: the Debian package and the program-folder archive, made by CPack
# (scripts/package.sh). The version is the project's (the version record's numbers).
#
#   build/lanternfall_<version>_amd64.deb              the install below /usr, the documents
#                                                      Debian asks for, Depends computed
#   build/lanternfall-<version>-linux-x86_64.tar.gz    the program folder alone

set(LF_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/resources/package)
set(LF_PACKAGE_OUT ${CMAKE_BINARY_DIR}/package)
set(LF_PACKAGE_MAINTAINER "The Lanternfall developers <lanternfall@users.noreply.github.com>"
  CACHE STRING "Maintainer of the Debian package: name <address>")
set(LF_ARCHIVE_NAME lanternfall-${PROJECT_VERSION}-linux-x86_64)

# --- Documents: the copyright file, the changelog and the manual page ------------------
# Debian wants the changelog and the manual page compressed with gzip -9n (no time stamp,
# so the same sources give the same bytes).
find_program(LF_GZIP gzip REQUIRED)
configure_file(${LF_PACKAGE_DIR}/changelog.in ${LF_PACKAGE_OUT}/changelog @ONLY)
configure_file(${LF_PACKAGE_DIR}/lanternfall.6.in ${LF_PACKAGE_OUT}/lanternfall.6 @ONLY)
add_custom_command(
  OUTPUT ${LF_PACKAGE_OUT}/changelog.gz ${LF_PACKAGE_OUT}/lanternfall.6.gz
  COMMAND ${LF_GZIP} -9nf -k ${LF_PACKAGE_OUT}/changelog ${LF_PACKAGE_OUT}/lanternfall.6
  DEPENDS ${LF_PACKAGE_OUT}/changelog ${LF_PACKAGE_OUT}/lanternfall.6
  COMMENT "Compressing the changelog and the manual page"
  VERBATIM)
add_custom_target(lf_package_documents ALL
  DEPENDS ${LF_PACKAGE_OUT}/changelog.gz ${LF_PACKAGE_OUT}/lanternfall.6.gz)

set(LF_DOC_DIR share/doc/lanternfall)
install(FILES ${LF_PACKAGE_DIR}/copyright ${LF_PACKAGE_OUT}/changelog.gz DESTINATION ${LF_DOC_DIR})
install(FILES ${RUFFLE_DIR}/LICENSE_APACHE ${RUFFLE_DIR}/LICENSE_MIT DESTINATION ${LF_DOC_DIR}/ruffle)
install(FILES ${LF_PACKAGE_OUT}/lanternfall.6.gz DESTINATION share/man/man6)

# --- CPack ---------------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_PACKAGE_NAME lanternfall)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Lanternfall developers")
set(CPACK_PACKAGE_CONTACT "${LF_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "single-player game by lantern light")
set(CPACK_PACKAGE_DESCRIPTION "\
The whole game, its graphics and its sound live in one Flash movie, which
Lanternfall plays with the Ruffle player (bundled) in a Qt WebEngine window.

The game keeps every player's progress, the high scores and its settings in
the player's data folder, switches between full screen and a window, and keeps
the screen awake while it is played.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PROJECT_CONFIG_FILE ${LF_PACKAGE_OUT}/CPackGenerators.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps computes the libraries; Qt WebEngine's own entry there also names its page
# process (libqt6webenginecore6-bin, which brings the engine's resources). A font for the page
# is loaded at run time, not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# Links the movie opens go to the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

configure_file(${LF_PACKAGE_DIR}/CPackGenerators.cmake.in ${LF_PACKAGE_OUT}/CPackGenerators.cmake @ONLY)
configure_file(${LF_PACKAGE_DIR}/ProgramFolder.cmake.in ${LF_PACKAGE_OUT}/ProgramFolder.cmake @ONLY)
include(CPack)

# The package test: CPack from the finished build into a temporary folder, then what a player
# and Debian's tools see of the package (tests/package/).
if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package_deb
    COMMAND ${Python3_EXECUTABLE} -m unittest -v test_deb
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/package)
  set_tests_properties(package_deb PROPERTIES
    LABELS package TIMEOUT 900
    ENVIRONMENT "LF_BUILD_DIR=${CMAKE_BINARY_DIR};LF_VERSION=${PROJECT_VERSION}")
endif()
