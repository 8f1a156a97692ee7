# Installation and packages: `cmake --install` and `cpack -G DEB`.
#
# The four libraries and the simulator's data files go to one private folder, <libdir>/vorn/,
# because each API library loads libravelink.so (and simapi its data files) from the folder of
# its own file, symbolic links resolved. <libdir> itself holds only links to the two API
# libraries, so that a program links with -lvornapi and the loader finds them by SONAME; the
# links lead into the private folder, where the libraries find what lies beside them.
#
# Components: runtime (libraries, data, jar) and dev (header, CMake package, pkg-config files).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VORN_INSTALL_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/vorn)
set(VORN_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vorn)
set(VORN_INSTALL_JAVA_DIR ${CMAKE_INSTALL_DATADIR}/java)
set(vorn_public_libraries vornapi simapi)

# Each library is lib<name>.so.<major>.<minor> with the SONAME lib<name>.so.<major>; the plain
# name stays a link, the name that applications and the Java bridge load at run time.
set_target_properties(vornapi simapi vornjni ravelink PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS vornapi simapi EXPORT vornTargets
  LIBRARY DESTINATION ${VORN_INSTALL_PRIVATE_DIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS vornjni ravelink
  LIBRARY DESTINATION ${VORN_INSTALL_PRIVATE_DIR} COMPONENT runtime)
file(GLOB vorn_sim_data_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/sim/*)
install(FILES ${vorn_sim_data_files} DESTINATION ${VORN_INSTALL_PRIVATE_DIR} COMPONENT runtime)
install_jar(vornjni_java DESTINATION ${VORN_INSTALL_JAVA_DIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/vornintf.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# The public links, relative so the tree can be moved (a staged install, an unpacked package).
# Made here as dangling links; installing a link copies the link.
set(vorn_links_dir ${PROJECT_BINARY_DIR}/packaging/links)
file(MAKE_DIRECTORY ${vorn_links_dir})
set(vorn_public_links)
foreach(name ${vorn_public_libraries})
  set(file ${CMAKE_SHARED_LIBRARY_PREFIX}${name}${CMAKE_SHARED_LIBRARY_SUFFIX})
  foreach(link ${file} ${file}.${PROJECT_VERSION_MAJOR})
    file(CREATE_LINK vorn/${link} ${vorn_links_dir}/${link} SYMBOLIC)
    list(APPEND vorn_public_links ${vorn_links_dir}/${link})
  endforeach()
endforeach()
install(FILES ${vorn_public_links} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)

# The CMake package: vorn::vornapi and vorn::simapi, and the paths of the installed files for
# applications that load a library at run time.
install(EXPORT vornTargets NAMESPACE vorn:: DESTINATION ${VORN_INSTALL_CMAKE_DIR} COMPONENT dev)
set(VORN_JAR_FILE ${VORN_INSTALL_JAVA_DIR}/vornjni.jar)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/vornConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/vornConfig.cmake
  INSTALL_DESTINATION ${VORN_INSTALL_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR VORN_INSTALL_PRIVATE_DIR VORN_JAR_FILE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/vornConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/vornConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/vornConfigVersion.cmake
  DESTINATION ${VORN_INSTALL_CMAKE_DIR} COMPONENT dev)

# pkg-config files whose paths are relative to their own folder (${pcfiledir}), for the same
# reason as the links.
set(vorn_pc_dir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VORN_PC_PREFIX ${vorn_pc_dir} ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH VORN_PC_LIBDIR ${vorn_pc_dir} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH VORN_PC_INCLUDEDIR ${vorn_pc_dir} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
foreach(var VORN_PC_PREFIX VORN_PC_LIBDIR VORN_PC_INCLUDEDIR)
  string(REGEX REPLACE "/$" "" ${var} "${${var}}")
endforeach()
foreach(name ${vorn_public_libraries})
  set(VORN_PC_NAME ${name})
  if(name STREQUAL "simapi")
    set(VORN_PC_DESCRIPTION "Trading client library over a simulated host and market")
  else()
    set(VORN_PC_DESCRIPTION "Trading client library")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/vorn.pc.in
    ${PROJECT_BINARY_DIR}/packaging/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

include(VornPackage)
