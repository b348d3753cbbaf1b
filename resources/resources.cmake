# The application icon, the version record and the command line (in the host library),
# the desktop entry and AppStream file, and the install rules.

find_package(Qt6 6.4 REQUIRED COMPONENTS Svg)

set(LF_RESOURCES_DIR ${CMAKE_SOURCE_DIR}/resources)
set(LF_RESOURCES_OUT ${CMAKE_BINARY_DIR}/resources)
set(LF_APP_ID io.github.lanternfall.Lanternfall)
set(LF_ICON_SIZES 16 32 48 256)

# --- The icon: rendered from the SVG artwork at build time ----------------------------
# The tool stays out of the program folder.
add_executable(lf_make_icons ${CMAKE_SOURCE_DIR}/tools/make_icons.cpp)
target_link_libraries(lf_make_icons PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(lf_make_icons PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools AUTOMOC OFF AUTORCC OFF)

set(LF_ICON_FILES ${LF_RESOURCES_OUT}/lanternfall.ico)
foreach(size ${LF_ICON_SIZES})
  list(APPEND LF_ICON_FILES ${LF_RESOURCES_OUT}/hicolor/${size}x${size}/apps/lanternfall.png)
endforeach()
add_custom_command(OUTPUT ${LF_ICON_FILES}
  COMMAND $<TARGET_FILE:lf_make_icons> ${LF_RESOURCES_DIR}/lanternfall.svg ${LF_RESOURCES_OUT}
  DEPENDS lf_make_icons ${LF_RESOURCES_DIR}/lanternfall.svg
  COMMENT "Rendering the application icon"
  VERBATIM)
add_custom_target(lf_icons ALL DEPENDS ${LF_ICON_FILES})

# The .ico goes into the program as a Qt resource; the window's icon is read from it.
configure_file(${LF_RESOURCES_DIR}/lanternfall_icon.qrc.in ${LF_RESOURCES_OUT}/lanternfall_icon.qrc COPYONLY)
target_sources(lf_host PRIVATE
  ${LF_RESOURCES_DIR}/AppIcon.cpp ${LF_RESOURCES_DIR}/AppIcon.h
  ${LF_RESOURCES_DIR}/CommandLine.cpp ${LF_RESOURCES_DIR}/CommandLine.h
  ${LF_RESOURCES_DIR}/VersionRecord.h
  ${LF_RESOURCES_OUT}/lanternfall_icon.qrc)
add_dependencies(lf_host lf_icons)

# --- Install --------------------------------------------------------------------------
# PREFIX/lib/lanternfall    the program folder (executable, movie, link-info file, player)
# PREFIX/bin/lanternfall    a relative symbolic link to the executable
# PREFIX/share/...          desktop entry, icons, AppStream metadata
# Nothing in the install names its prefix, so an installed tree can be moved as a whole.
set(LF_INSTALL_PROGRAM_DIR lib/lanternfall)
install(TARGETS lanternfall RUNTIME DESTINATION ${LF_INSTALL_PROGRAM_DIR})
install(DIRECTORY ${LF_PROGRAM_DIR}/ DESTINATION ${LF_INSTALL_PROGRAM_DIR}
  USE_SOURCE_PERMISSIONS
  PATTERN lanternfall EXCLUDE)  # the executable comes from install(TARGETS) above
install(CODE [[
  set(lf_bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  message(STATUS "Installing: ${lf_bin}/lanternfall -> ../lib/lanternfall/lanternfall")
  file(MAKE_DIRECTORY "${lf_bin}")
  file(REMOVE "${lf_bin}/lanternfall")
  file(CREATE_LINK ../lib/lanternfall/lanternfall "${lf_bin}/lanternfall" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/bin/lanternfall")
]])
install(FILES ${LF_RESOURCES_DIR}/${LF_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${LF_RESOURCES_DIR}/${LF_APP_ID}.metainfo.xml DESTINATION share/metainfo)
foreach(size ${LF_ICON_SIZES})
  install(FILES ${LF_RESOURCES_OUT}/hicolor/${size}x${size}/apps/lanternfall.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${LF_RESOURCES_DIR}/lanternfall.svg DESTINATION share/icons/hicolor/scalable/apps)
