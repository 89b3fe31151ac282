# The Windows program's folder: what Ponderix.exe needs beside itself to run as it is, with no
# Qt or compiler installed. The build copies the same files into its bin folder (so the programs
# and tests there run under Wine as they are), and the install step lays them out:
#
#   Ponderix.exe  regsvr.exe  platform.dll  Trutina.dll     the program, the tool, the driver
#   ponderix-replay.exe                                      regression runs against a driver
#   ponderix-check.exe                                       the rules a driver breaks
#   Qt6Core.dll  Qt6Gui.dll  Qt6Widgets.dll                  Qt
#   platforms/qwindows.dll  styles/qwindowsvistastyle.dll    Qt's platform and style plugins
#   libstdc++-6.dll  libgcc_s_*.dll  libwinpthread-1.dll     the compiler's C++ runtime
#   qt.conf                                                  Qt's plugins are looked up here only
#   translations/qtbase_ru.qm                                Qt's own Russian (standard buttons, dialogs)
#
# Qt for Windows has no windeployqt here; the lists below are what the program loads.

# The compiler's runtime DLLs, wherever this compiler keeps them (the exception-handling flavour
# of libgcc differs between x86_64 and i686).
set(PONDERIX_RUNTIME_DLLS)
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libgcc_s_sjlj-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    file(REAL_PATH "${path}" path)
    list(APPEND PONDERIX_RUNTIME_DLLS "${path}")
  endif()
endforeach()
if(NOT PONDERIX_RUNTIME_DLLS MATCHES "libstdc\\+\\+-6.dll")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} names no libstdc++-6.dll")
endif()

set(qt_dlls Qt6::Core Qt6::Gui Qt6::Widgets)
set(qt_platform_plugins Qt6::QWindowsIntegrationPlugin)
set(qt_style_plugins Qt6::QWindowsVistaStylePlugin)
foreach(target IN LISTS qt_dlls qt_platform_plugins qt_style_plugins)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "Qt for Windows has no ${target}")
  endif()
endforeach()

# Qt's Russian translation is data, the same for every system: Debian's (qt6-translations-l10n,
# of the Qt version the Windows Qt is built from).
find_file(PONDERIX_QTBASE_RU qtbase_ru.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT PONDERIX_QTBASE_RU)
  message(FATAL_ERROR "No qtbase_ru.qm in /usr/share/qt6/translations: scripts/setup.sh installs qt6-translations-l10n")
endif()

# Plugins from the program's own folder, not from the folder Qt was built into.
set(PONDERIX_QT_CONF "${CMAKE_BINARY_DIR}/qt.conf")
file(WRITE "${PONDERIX_QT_CONF}" "[Paths]\nPrefix = .\nPlugins = .\n")

# ---------------------------------------------------------------- the build's bin folder
# The tests also need Qt Test and the offscreen platform.
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(copy_commands
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/platforms ${bin}/styles ${bin}/translations
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PONDERIX_RUNTIME_DLLS} ${PONDERIX_QT_CONF} ${bin}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PONDERIX_QTBASE_RU} ${bin}/translations)
foreach(target IN LISTS qt_dlls)
  list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${bin})
endforeach()
if(TARGET Qt6::Test)
  list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::Test> ${bin})
endif()
foreach(target IN LISTS qt_platform_plugins)
  list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${bin}/platforms)
endforeach()
if(TARGET Qt6::QOffscreenIntegrationPlugin)
  list(APPEND copy_commands
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> ${bin}/platforms)
endif()
foreach(target IN LISTS qt_style_plugins)
  list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${bin}/styles)
endforeach()
add_custom_target(windows_runtime ALL ${copy_commands} VERBATIM
  COMMENT "Copying the Qt and C++ runtime DLLs into ${bin}")

# ---------------------------------------------------------------- the installed folder
install(FILES ${PONDERIX_RUNTIME_DLLS} ${PONDERIX_QT_CONF} DESTINATION .)
install(FILES ${PONDERIX_QTBASE_RU} DESTINATION translations)
foreach(target IN LISTS qt_dlls)
  install(FILES $<TARGET_FILE:${target}> DESTINATION .)
endforeach()
foreach(target IN LISTS qt_platform_plugins)
  install(FILES $<TARGET_FILE:${target}> DESTINATION platforms)
endforeach()
foreach(target IN LISTS qt_style_plugins)
  install(FILES $<TARGET_FILE:${target}> DESTINATION styles)
endforeach()
