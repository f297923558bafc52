# Installation as a desktop application (binary, desktop entry, icons, AppStream
# metainfo) and the Debian package built from it with `cpack -G DEB`.
include(GNUInstallDirs)

set(DAYBROOK_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(DAYBROOK_ICON_SIZES 16 22 24 32 48 64 128 256)
set(DAYBROOK_METAINFO_ID io.github.daybrook.Daybrook)

# --- Desktop entry ----------------------------------------------------------
# Written at install time: the prefix is only known then (`cmake --install
# --prefix`). Under /usr or /usr/local the binary is on every PATH and the entry
# names it plainly; elsewhere (~/.local, a test prefix) it names the installed
# binary by its full path, because ~/.local/bin is often missing from the PATH
# of the session that runs the entry.
configure_file(${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake.in
  ${PROJECT_BINARY_DIR}/InstallDesktopEntry.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/InstallDesktopEntry.cmake)

# --- Icons ------------------------------------------------------------------
install(FILES ${DAYBROOK_RESOURCES}/icons/daybrook.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS DAYBROOK_ICON_SIZES)
  install(FILES ${DAYBROOK_RESOURCES}/icons/hicolor/${size}x${size}/apps/daybrook.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The PNGs are rendered from the SVG and committed; `cmake --build build
# --target icons` renders them again after the SVG changes.
add_executable(daybrook_render_icons EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tools/render_icons.cpp)
target_link_libraries(daybrook_render_icons PRIVATE Qt6::Gui Qt6::Svg)
daybrook_warnings(daybrook_render_icons)
add_custom_target(icons
  COMMAND daybrook_render_icons ${DAYBROOK_RESOURCES}/icons/daybrook.svg ${DAYBROOK_RESOURCES}/icons/hicolor
  COMMENT "Rendering the application icon to PNG")

# --- AppStream metainfo -----------------------------------------------------
# Screenshots are the images in docs/, published with the sources: by default
# next to the project page (raw files of the main branch for a GitHub page).
if(DAYBROOK_WEBSITE_URL MATCHES "^https://github\\.com/([^/]+)/([^/]+)/?$")
  set(_screenshot_base "https://raw.githubusercontent.com/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}/main/docs")
  set(_bugtracker "https://github.com/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}/issues")
else()
  string(REGEX REPLACE "/$" "" _screenshot_base "${DAYBROOK_WEBSITE_URL}")
  set(_screenshot_base "${_screenshot_base}/docs")
  set(_bugtracker "")
endif()
set(DAYBROOK_SCREENSHOT_BASE_URL "${_screenshot_base}" CACHE STRING
  "Where the images of docs/ are published (AppStream screenshots)")
set(DAYBROOK_BUGTRACKER_URL "${_bugtracker}" CACHE STRING "Issue tracker (AppStream metainfo); empty for none")

set(DAYBROOK_METAINFO_URLS "")
if(DAYBROOK_BUGTRACKER_URL)
  string(APPEND DAYBROOK_METAINFO_URLS "  <url type=\"bugtracker\">${DAYBROOK_BUGTRACKER_URL}</url>\n")
endif()
if(DAYBROOK_CONTACT_URL MATCHES "^https?://")
  string(APPEND DAYBROOK_METAINFO_URLS "  <url type=\"contact\">${DAYBROOK_CONTACT_URL}</url>\n")
endif()

# The bar first (the default screenshot), then the settings window, light
# appearance only: software centres show a handful of images, not every variant.
file(GLOB _docs_images CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/docs/*.png)
set(_captions
  "bar-light-expanded.png|The bar under the top panel, grown under the pointer, with a tooltip"
  "bar-light-collapsed.png|The bar at rest: a thin timeline of the day under the top panel"
  "bar-dark-expanded.png|The bar in dark appearance")
set(_screenshots "")
foreach(entry IN LISTS _captions)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 image)
  list(GET entry 1 caption)
  if(image IN_LIST _docs_images)
    list(APPEND _screenshots "${image}|${caption}")
  endif()
endforeach()
list(SORT _docs_images)
set(_settings_tab_order general integrations todoist calendar about)
if(NOT _screenshots)
  # Other names for the bar's images: the light ones, in name order.
  foreach(image IN LISTS _docs_images)
    if(image MATCHES "^bar-.*light.*\\.png$")
      list(APPEND _screenshots "${image}|The bar under the top panel")
    endif()
  endforeach()
endif()
# Then the settings window's tabs in the window's order, others after them.
set(_settings_first "")
set(_settings_rest "")
foreach(image IN LISTS _docs_images)
  # settings-<tab>-light.png or settings-light-<tab>.png
  if(image MATCHES "^settings-(.*-)?light(-.*)?\\.png$")
    set(tab "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    string(REGEX REPLACE "^-|-$" "" tab "${tab}")
    string(REPLACE "-" " " tab "${tab}")
    if(tab STREQUAL "")
      set(caption "The settings window")
    else()
      string(SUBSTRING "${tab}" 0 1 first)
      string(SUBSTRING "${tab}" 1 -1 rest)
      string(TOUPPER "${first}" first)
      set(caption "Settings: the ${first}${rest} tab")
    endif()
    list(FIND _settings_tab_order "${tab}" position)
    if(position GREATER_EQUAL 0)
      list(APPEND _settings_first "${position}|${image}|${caption}")
    else()
      list(APPEND _settings_rest "${image}|${caption}")
    endif()
  endif()
endforeach()
list(SORT _settings_first)
foreach(entry IN LISTS _settings_first)
  string(REGEX REPLACE "^[0-9]+\\|" "" entry "${entry}")
  list(APPEND _screenshots "${entry}")
endforeach()
list(APPEND _screenshots ${_settings_rest})
set(DAYBROOK_METAINFO_SCREENSHOTS "")
if(_screenshots)
  string(APPEND DAYBROOK_METAINFO_SCREENSHOTS "  <screenshots>\n")
  set(kind " type=\"default\"")
  foreach(entry IN LISTS _screenshots)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 image)
    list(GET entry 1 caption)
    string(APPEND DAYBROOK_METAINFO_SCREENSHOTS
      "    <screenshot${kind}>\n"
      "      <caption>${caption}</caption>\n"
      "      <image>${DAYBROOK_SCREENSHOT_BASE_URL}/${image}</image>\n"
      "    </screenshot>\n")
    set(kind "")
  endforeach()
  string(APPEND DAYBROOK_METAINFO_SCREENSHOTS "  </screenshots>\n")
endif()
configure_file(${DAYBROOK_RESOURCES}/${DAYBROOK_METAINFO_ID}.metainfo.xml.in
  ${PROJECT_BINARY_DIR}/${DAYBROOK_METAINFO_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${DAYBROOK_METAINFO_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# --- Debian package ---------------------------------------------------------
set(_maintainer "The Daybrook developers")
if(DAYBROOK_CONTACT_URL MATCHES "^mailto:(.+)$")
  set(_maintainer "${_maintainer} <${CMAKE_MATCH_1}>")
endif()
set(DAYBROOK_PACKAGE_MAINTAINER "${_maintainer}" CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME daybrook)
set(CPACK_PACKAGE_VENDOR "Daybrook")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DAYBROOK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "thin always-on-top timeline of your day")
set(CPACK_PACKAGE_DESCRIPTION
  "Daybrook keeps a thin timeline of the day under the top panel, above every\n"
  "window: hour ticks, a clock hand, night before sunrise and after sunset, and\n"
  "today's calendar events (Evolution Data Server) and Todoist tasks. It lives\n"
  "in the system tray, with a menu and a settings window.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${DAYBROOK_BUILD_NUMBER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${DAYBROOK_WEBSITE_URL}")
# Libraries the binary links come from dpkg-shlibdeps; these are loaded at run
# time and no linker sees them: the X11 platform plugin, the SVG icon engine,
# the GeoClue position plugin, libsecret (opened by QtKeychain) and the
# calendar services on the session bus.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, libqt6svg6, libqt6positioning6-plugins, libsecret-1-0, evolution-data-server")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, geoclue-2.0, xdg-utils")
include(CPack)
