# Installation: the Debian package, or on Windows the program's folder zipped.
#
# Layout under the prefix (/usr in the package):
#   bin/ponderix                              the launcher: registers the substitute driver for
#                                             the user on first start, then starts the program
#   bin/ponderix-{check,replay,regsvr}        links to the tools in lib/ponderix
#   lib/ponderix/Ponderix                     the program
#   lib/ponderix/regsvr                       registers or unregisters a server module
#   lib/ponderix/ponderix-replay              replays a driver recording against a driver
#   lib/ponderix/ponderix-check               checks a driver against the COM and interface rules
#   lib/ponderix/libplatform.so               the platform library shared by program and driver
#   lib/ponderix/Trutina.dll                  the substitute driver
#   share/applications/ponderix.desktop
#   share/icons/hicolor/{48x48,128x128}/apps/ponderix.png
#   share/man/man1/ponderix{,-check,-replay,-regsvr}.1.gz   made by help2man from each --help
#   share/doc/ponderix/{changelog.gz,copyright}           Debian's formats
# Everything private lives in one folder, so the install RPATH's $ORIGIN finds libplatform for the
# program, the tool and the driver alike.
#
#   cmake --preset release && cmake --build --preset release && cpack --config build/release/CPackConfig.cmake

if(WIN32)
  # Windows: one folder that runs as it is, zipped as ponderix-<version>-win64.zip or -win32.zip.
  #   cmake --preset windows && cmake --build --preset windows && cpack --config build/windows/CPackConfig.cmake
  foreach(target Ponderix regsvr ponderix-replay ponderix-check platform Trutina)
    if(TARGET ${target})
      install(TARGETS ${target} RUNTIME DESTINATION . LIBRARY DESTINATION .)
    endif()
  endforeach()
  if(PONDERIX_QT)
    include(WindowsDeploy)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(windows_bits win64)
  else()
    set(windows_bits win32)
  endif()
  # The setup program beside the zip, made from the same folder (packaging/windows/ponderix.nsi):
  #   cmake --build build/windows --target windows_installer   # -> ponderix-<version>-win64-setup.exe
  find_program(PONDERIX_MAKENSIS makensis)
  if(PONDERIX_MAKENSIS AND TARGET Ponderix)
    include(TrutinaGuid)
    trutina_read_guid("${PROJECT_SOURCE_DIR}/driver/Trutina_TLB.h" CLSID_Statera statera)
    string(TIMESTAMP year "%Y" UTC)
    string(REGEX REPLACE "^win" "" bits ${windows_bits})
    set(installer ${PROJECT_BINARY_DIR}/installer)
    add_custom_target(windows_installer
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${installer}
      COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${installer}/stage --strip
      COMMAND ${CMAKE_COMMAND} -DSTAGE=${installer}/stage -DOUT=${installer}
              -P ${PROJECT_SOURCE_DIR}/cmake/InstallerFiles.cmake
      COMMAND ${PONDERIX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBITS=${bits} "-DSTATERA={${statera}}"
              "-DCOPYRIGHT=Copyright ${year} ${PONDERIX_DEVELOPER_NAME}" -DLISTS=${installer}
              -DOUTFILE=${PROJECT_BINARY_DIR}/ponderix-${PROJECT_VERSION}-${windows_bits}-setup.exe
              ${PROJECT_SOURCE_DIR}/packaging/windows/ponderix.nsi
      COMMENT "The setup program ponderix-${PROJECT_VERSION}-${windows_bits}-setup.exe"
      USES_TERMINAL VERBATIM)
  endif()
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_PACKAGE_NAME "ponderix")
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(CPACK_PACKAGE_FILE_NAME "ponderix-${PROJECT_VERSION}-${windows_bits}")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_SOURCE_GENERATOR "")
  include(CPack)
  return()
endif()

set(PONDERIX_INSTALL_PRIVATE_DIR "${CMAKE_INSTALL_LIBDIR}/ponderix")

foreach(program Ponderix regsvr ponderix-replay ponderix-check)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${PONDERIX_INSTALL_PRIVATE_DIR})
  endif()
endforeach()
foreach(module platform Trutina)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${PONDERIX_INSTALL_PRIVATE_DIR})
  endif()
endforeach()

# The launcher and the links find the private folder relative to themselves, so the installed
# tree can move.
file(RELATIVE_PATH PONDERIX_PRIVATE_FROM_BIN "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_PREFIX}/${PONDERIX_INSTALL_PRIVATE_DIR}")

# The tools on the path under names of their own (regsvr stays in the folder for the launcher).
# Each command's manual page is help2man's reading of its --help and --version, run on a link of
# the command's own name so that the page is named after it.
find_program(PONDERIX_HELP2MAN help2man)
if(NOT PONDERIX_HELP2MAN)
  message(WARNING "help2man not found (scripts/setup.sh installs it): no manual pages")
endif()
set(man ${PROJECT_BINARY_DIR}/packaging/man)
set(pages)
foreach(entry "ponderix-check=ponderix-check=check a scale driver against the COM and interface rules"
              "ponderix-replay=ponderix-replay=replay a driver recording against a scale driver"
              "ponderix-regsvr=regsvr=register or unregister a COM server module"
              "ponderix=Ponderix=test bench for an electronic weighing-scale driver")
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 command)
  list(GET entry 1 target)
  list(GET entry 2 summary)
  if(NOT TARGET ${target})
    continue()
  endif()
  if(NOT command STREQUAL "ponderix") # the launcher is a script of its own
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging/bin)
    file(CREATE_LINK ${PONDERIX_PRIVATE_FROM_BIN}/${target} ${PROJECT_BINARY_DIR}/packaging/bin/${command} SYMBOLIC)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/bin/${command} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(PONDERIX_HELP2MAN)
    add_custom_command(OUTPUT ${man}/${command}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man}/run
      COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${target}> ${man}/run/${command}
      COMMAND ${PONDERIX_HELP2MAN} --no-info --section 1 --name ${summary} --output ${man}/${command}.1 ${man}/run/${command}
      COMMAND gzip -9nf ${man}/${command}.1
      DEPENDS ${target}
      COMMENT "Manual page ${command}(1)"
      VERBATIM)
    list(APPEND pages ${man}/${command}.1.gz)
  endif()
endforeach()
if(pages)
  add_custom_target(manual_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The package's changelog (its first entry names the project's version) and its copyright, both
# in Debian's formats.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^ponderix \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the first entry is not the project's version ${PROJECT_VERSION}")
endif()
set(doc ${PROJECT_BINARY_DIR}/packaging/doc)
add_custom_command(OUTPUT ${doc}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${doc}/changelog
  COMMAND gzip -9nf ${doc}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${doc}/changelog.gz)
string(TIMESTAMP PONDERIX_COPYRIGHT_YEAR "%Y" UTC) # SOURCE_DATE_EPOCH when set
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in ${doc}/copyright @ONLY)
install(FILES ${doc}/changelog.gz ${doc}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ponderix)

if(TARGET Ponderix)
  # The class id of Statera, which the launcher asks regsvr about.
  include(TrutinaGuid)
  trutina_read_guid("${PROJECT_SOURCE_DIR}/driver/Trutina_TLB.h" CLSID_Statera statera)
  set(PONDERIX_STATERA_CLSID "{${statera}}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/ponderix.sh.in ${PROJECT_BINARY_DIR}/packaging/ponderix @ONLY)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/ponderix DESTINATION ${CMAKE_INSTALL_BINDIR})

  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ponderix.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 48x48 128x128)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/${size}/ponderix.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
  endforeach()
endif()

# ---------------------------------------------------------------- the Debian package
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "ponderix")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Ponderix hosts one instance of an electronic weighing-scale driver (a COM
automation server), offers every driver operation as a control and shows
everything the driver reports. A substitute driver that simulates the scales
comes with it.")
set(CPACK_PACKAGE_CONTACT "Ponderix maintainers <maintainers@ponderix.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "devel")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ponderix.example.org")
# The Qt 6 runtime (its platform plugins come with libqt6gui6) and the C++ runtime, named
# explicitly so that building the package needs no dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34)")
# Qt's own Russian translation: without it Qt's standard buttons and dialogs speak English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
