# Debian packages with CPack (`cpack -G DEB` in the build folder; scripts/package.sh makes a release
# build for it), one per install component (cmake/Install.cmake):
#   libtorva-usb0     the driver and platform libraries, the default machine settings
#   libtorva-usb-dev  header, .so links, torva-usb.pc, CMake package   (needs libtorva-usb0)
#   torva-plugin      the host plugin                                    (needs libtorva-usb0)
#   torva-tools       torvactl, torva-host, manual pages, udev rule      (needs both above)
#   python3-torva     the Python package torva, architecture all          (needs libtorva-usb0)
# Dependencies on system libraries come from dpkg-shlibdeps (Debian package dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torva)
set(CPACK_PACKAGE_VENDOR "Torva")
set(CPACK_PACKAGE_CONTACT "Torva maintainers <maintainers@torva.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Torva USB force-plate amplifier driver")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools plugin python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in each component's staging folder; the project's own libraries lie in the
# runtime component's (the packages' dependencies on each other are the components' DEPENDS).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
# The runtime package says which of its versions a program built against it needs (its shlibs
# file, written here) and has dpkg run ldconfig through a trigger, as Debian's policy wants:
# cpack's own shlibs generation would call ldconfig from maintainer scripts instead.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
file(WRITE ${CMAKE_BINARY_DIR}/debian/runtime/shlibs
  "libTorvaUSBDevice ${PROJECT_VERSION_MAJOR} libtorva-usb${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})\n"
  "libtorvaplatform ${PROJECT_VERSION_MAJOR} libtorva-usb${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Installed programs and libraries carry no debugging symbols.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtorva-usb${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Maintainer scripts of its own keep cpack from writing ldconfig calls into generated ones.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/runtime/shlibs
  ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb/triggers
  ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb/postinst
  ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb/postrm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The default machine settings in /etc are a conffile: dpkg keeps an administrator's changes.
if(IS_ABSOLUTE "${TORVA_SETTINGS_DIRECTORY}")
  file(WRITE ${CMAKE_BINARY_DIR}/debian/runtime/conffiles
    "${TORVA_SETTINGS_DIRECTORY}/machine-settings.conf\n")
  list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/runtime/conffiles)
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtorva-usb-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME torva-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/torva-tools/postinst)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME torva-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION libs)
# The plugin lies outside the linker's paths: no ldconfig for it (the empty scripts keep cpack
# from adding calls).
set(CPACK_DEBIAN_PLUGIN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb/postinst
  ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb/postrm)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Pure Python: one package for every architecture; the library comes from libtorva-usb0.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-torva)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, python3-numpy")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)

# Every package's documentation folder holds the changelog (compressed as Debian wants it, without
# a time stamp); the runtime and plugin packages give their lintian overrides with the reasons.
find_program(TORVA_GZIP gzip REQUIRED)
execute_process(COMMAND ${TORVA_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component_package IN ITEMS runtime:libtorva-usb${PROJECT_VERSION_MAJOR}
                                   development:libtorva-usb-dev plugin:torva-plugin tools:torva-tools
                                   python:python3-torva)
  string(REPLACE ":" ";" component_package ${component_package})
  list(GET component_package 0 component)
  list(GET component_package 1 package)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/libtorva-usb.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
  RENAME libtorva-usb${PROJECT_VERSION_MAJOR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/torva-plugin.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME torva-plugin COMPONENT plugin)

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Torva driver library"
  DESCRIPTION "The driver library libTorvaUSBDevice and the platform library libtorvaplatform.")
cpack_add_component(development DISPLAY_NAME "Torva driver development files" DEPENDS runtime
  DESCRIPTION "Header, pkg-config file and CMake package of the Torva driver library.")
cpack_add_component(plugin DISPLAY_NAME "Torva host plugin" DEPENDS runtime
  DESCRIPTION "libTorvaplugin.so, the motion-capture host plugin for Torva force plates.")
cpack_add_component(python DISPLAY_NAME "Torva Python package" DEPENDS runtime
  DESCRIPTION "The Torva driver library from Python, with numpy arrays.")
cpack_add_component(tools DISPLAY_NAME "Torva tools" DEPENDS runtime plugin
  DESCRIPTION "torvactl and torva-host, their manual pages and the amplifiers' udev rule.")
