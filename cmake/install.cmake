# Installation: the program, its helper commands, the man page, the library with its public
# header, a CMake package (find_package(Orvalix)), a pkg-config file and a Debian package (CPack).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Orvalix::orvalix is the shared library (the C interface alone); Orvalix::orvalix_static the
# static one, for programs that link everything in.
set_target_properties(orvalix_shared PROPERTIES EXPORT_NAME orvalix)
set_target_properties(orvalix_core PROPERTIES OUTPUT_NAME orvalix EXPORT_NAME orvalix_static)
add_library(Orvalix::orvalix ALIAS orvalix_shared)

install(TARGETS orvalix orvalix-batch orvalix-stream RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS scripts/orvalix-corpus scripts/orvalix-plot scripts/orvalix-slurm
        DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/orvalix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS orvalix_shared orvalix_core EXPORT OrvalixTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/orvalix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvalix)

# The Python package, for the system python3 (Debian's folder under the /usr prefix).
if(ORVALIX_PYTHON)
  set(ORVALIX_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
      "Folder under the prefix that receives the Python package")
  install(TARGETS orvalix_python LIBRARY DESTINATION ${ORVALIX_PYTHON_INSTALL_DIR}/orvalix)
  install(FILES python/orvalix/__init__.py DESTINATION ${ORVALIX_PYTHON_INSTALL_DIR}/orvalix)
endif()



set(ORVALIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orvalix)
install(EXPORT OrvalixTargets NAMESPACE Orvalix:: DESTINATION ${ORVALIX_CMAKE_DIR})
configure_package_config_file(cmake/OrvalixConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OrvalixConfig.cmake INSTALL_DESTINATION ${ORVALIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrvalixConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrvalixConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/OrvalixConfigVersion.cmake
        DESTINATION ${ORVALIX_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so a relocated install still works.
file(RELATIVE_PATH ORVALIX_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
# Static linking also needs libsndfile, which the audio module decodes with.
set(ORVALIX_PC_REQUIRES_PRIVATE "")
if(SNDFILE_FOUND)
  set(ORVALIX_PC_REQUIRES_PRIVATE sndfile)
endif()
configure_file(cmake/orvalix.pc.in ${CMAKE_CURRENT_BINARY_DIR}/orvalix.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvalix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvalix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exact MFCC feature extraction for speaker identification")
set(CPACK_PACKAGE_CONTACT "Orvalix developers <dev@orvalix.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libsndfile1, parallel")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib, python3-numpy")
if(ORVALIX_PYTHON)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", python3 (>= ${ORVALIX_PYTHON_VERSION}~),"
         " python3 (<< ${ORVALIX_PYTHON_NEXT_VERSION}), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
