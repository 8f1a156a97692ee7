# The Debian packages (`cpack -G DEB` in the build folder): libvorn<major> with the libraries,
# the simulator's data files, the Java bridge and its jar; libvorn-dev with the header, the CMake
# package and the pkg-config files. The plain-name links belong to the runtime package: the
# Java bridge and run-time loaders open the libraries by those names.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vorn maintainers <vorn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client libraries of an electronic trading service")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build's debugging information stays out of the packages.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvorn${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "The live and simulator client libraries, the simulator's data files and the Java bridge")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvorn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Header, CMake package and pkg-config files of the client libraries")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# The runtime's dependencies (the C and C++ run-time libraries, and OpenSSL's for the stand-in
# library) from dpkg-shlibdeps where it is installed; otherwise named here.
find_program(VORN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VORN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libssl3 | libssl3t64")
endif()

include(CPack)
