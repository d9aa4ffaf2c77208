# Debian packages with CPack (`cpack -G DEB` in the build folder; scripts/package.sh makes a release
# build for it), one per install component (cmake/Install.cmake):
#   libtorva-usb0     the driver and platform libraries, the default machine settings
#   libtorva-usb-dev  header, .so links, torva-usb.pc, CMake package   (needs libtorva-usb0)
#   torva-plugin      the host plugin                                    (needs libtorva-usb0)
#   torva-tools       torvactl, torva-host, manual pages, udev rule      (needs both above)
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
set(CPACK_COMPONENTS_ALL runtime development tools plugin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in each component's staging folder; the project's own libraries lie in the
# runtime component's (the packages' dependencies on each other are the components' DEPENDS).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
# The runtime package says which of its versions a program built against it needs (shlibs;
# only packages with versioned libraries get one).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtorva-usb${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The default machine settings in /etc are a conffile: dpkg keeps an administrator's changes.
if(IS_ABSOLUTE "${TORVA_SETTINGS_DIRECTORY}")
  file(WRITE ${CMAKE_BINARY_DIR}/debian/runtime/conffiles
    "${TORVA_SETTINGS_DIRECTORY}/machine-settings.conf\n")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/runtime/conffiles)
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtorva-usb-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME torva-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/torva-tools/postinst)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME torva-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION libs)

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Torva driver library"
  DESCRIPTION "The driver library libTorvaUSBDevice and the platform library libtorvaplatform.")
cpack_add_component(development DISPLAY_NAME "Torva driver development files" DEPENDS runtime
  DESCRIPTION "Header, pkg-config file and CMake package of the Torva driver library.")
cpack_add_component(plugin DISPLAY_NAME "Torva host plugin" DEPENDS runtime
  DESCRIPTION "libTorvaplugin.so, the motion-capture host plugin for Torva force plates.")
cpack_add_component(tools DISPLAY_NAME "Torva tools" DEPENDS runtime plugin
  DESCRIPTION "torvactl and torva-host, their manual pages and the amplifiers' udev rule.")
