# What `cmake --install` puts where (GNUInstallDirs; with the prefix /usr on Debian the libraries go
# to lib/<multiarch>). Each file belongs to one component, and each component becomes one Debian
# package (cmake/Packaging.cmake):
#   runtime      the driver and platform libraries (versioned, with SONAME) and the default
#                machine settings;
#   development  the public headers, the libraries' .so links, torva-usb.pc and the CMake package;
#   tools        torvactl, torva-host, their manual pages and the udev rule;
#   plugin       libTorvaplugin.so in <libdir>/torva;
#   python       the Python package `torva` where Debian's python3 finds it.
# Tests, benches and emulator-only programs are not installed.
include(CMakePackageConfigHelpers)

set(TORVA_CMAKE_PACKAGE_DIRECTORY ${CMAKE_INSTALL_LIBDIR}/cmake/TorvaUSBDevice)
set(TORVA_PLUGIN_DIRECTORY ${CMAKE_INSTALL_LIBDIR}/torva)
# udev reads rules from /usr/lib/udev/rules.d; under another prefix they go to the same place
# below it.
set(TORVA_UDEV_RULES_DIRECTORY lib/udev/rules.d)
# The libraries read their settings from /etc/torva (platform/settings_store.h). With the prefix
# /usr, GNUInstallDirs names /etc itself; under any other prefix the default file goes to
# <prefix>/etc/torva, to be copied to /etc/torva or named with TORVA_SETTINGS.
if(IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}" OR CMAKE_INSTALL_FULL_SYSCONFDIR STREQUAL "/etc")
  set(TORVA_SETTINGS_DIRECTORY ${CMAKE_INSTALL_FULL_SYSCONFDIR}/torva)
else()
  set(TORVA_SETTINGS_DIRECTORY ${CMAKE_INSTALL_SYSCONFDIR}/torva)
endif()

set_target_properties(TorvaUSBDevice PROPERTIES EXPORT_NAME USBDevice)
set_target_properties(torvaplatform PROPERTIES EXPORT_NAME platform)
install(TARGETS TorvaUSBDevice torvaplatform
  EXPORT TorvaUSBDeviceTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT development)
# The export interface and the frame layout its callers read frames with, side by side.
install(FILES ${PROJECT_SOURCE_DIR}/driver/api/TorvaUSBDevice.h
  ${PROJECT_SOURCE_DIR}/driver/layout/TorvaFrameLayout.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/torva COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/machine-settings.conf
  DESTINATION ${TORVA_SETTINGS_DIRECTORY} COMPONENT runtime)

install(TARGETS torvactl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# The driver-only (32-bit) build has neither the plugin nor the host.
if(NOT TORVA_DRIVER_ONLY)
  install(TARGETS Torvaplugin LIBRARY DESTINATION ${TORVA_PLUGIN_DIRECTORY} COMPONENT plugin)
  install(TARGETS torva-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/udev/70-torva-amplifiers.rules
  DESTINATION ${TORVA_UDEV_RULES_DIRECTORY} COMPONENT tools)
if(TORVA_MAN_PAGES)
  install(FILES ${TORVA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()

# The Python package (pure Python over ctypes): with the prefix /usr in Debian's shared
# dist-packages, under another prefix where Debian's python3 looks for that prefix's packages.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(torva_python_directory lib/python3/dist-packages)
else()
  find_package(Python3 COMPONENTS Interpreter QUIET)
  if(Python3_FOUND)
    set(torva_python_directory
      lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/dist-packages)
  else()
    set(torva_python_directory lib/python3/dist-packages)
  endif()
endif()
set(TORVA_PYTHON_DIRECTORY ${torva_python_directory} CACHE STRING
  "Where the Python package torva is installed, relative to the prefix")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/torva DESTINATION ${TORVA_PYTHON_DIRECTORY}
  COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

# pkg-config: torva-usb.pc, relocatable (its prefix is worked out from where the file lies), so
# that an install under a staging prefix is found through PKG_CONFIG_PATH as well.
file(RELATIVE_PATH TORVA_PC_PREFIX_FROM_PC_DIRECTORY ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
  ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TORVA_PC_PREFIX_FROM_PC_DIRECTORY
  "${TORVA_PC_PREFIX_FROM_PC_DIRECTORY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/torva-usb.pc.in ${CMAKE_BINARY_DIR}/torva-usb.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/torva-usb.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# CMake: find_package(TorvaUSBDevice) gives Torva::USBDevice.
install(EXPORT TorvaUSBDeviceTargets NAMESPACE Torva::
  DESTINATION ${TORVA_CMAKE_PACKAGE_DIRECTORY} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TorvaUSBDeviceConfig.cmake.in
  ${CMAKE_BINARY_DIR}/TorvaUSBDeviceConfig.cmake
  INSTALL_DESTINATION ${TORVA_CMAKE_PACKAGE_DIRECTORY})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TorvaUSBDeviceConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TorvaUSBDeviceConfig.cmake
  ${CMAKE_BINARY_DIR}/TorvaUSBDeviceConfigVersion.cmake
  DESTINATION ${TORVA_CMAKE_PACKAGE_DIRECTORY} COMPONENT development)
