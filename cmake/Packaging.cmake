# Install rules, the pkg-config file for framework builders, man pages made
# from the programs' --help texts, and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

if(TARGET rkso_eseries)
  install(TARGETS rkso_eseries LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(TARGETS rkhost LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/rkso DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Relative to the .pc file, so the package works whatever prefix it is installed under.
file(RELATIVE_PATH RKSO_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/rkso.pc.in ${PROJECT_BINARY_DIR}/rkso.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/rkso.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

find_program(HELP2MAN help2man)
set(man_pages)
foreach(program rksnap cimq smis-sim)
  if(NOT TARGET ${program})
    continue()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(HELP2MAN)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${program} --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Man page of ${program}")
    list(APPEND man_pages ${page})
  endif()
endforeach()
if(man_pages)
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man pages")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rksnap)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rksnap maintainers <rksnap@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Hardware snapshots of E-Series volumes: snapshot plug-in, rksnap host, SMI-S simulator")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_STRIP_FILES ON)
include(CPack)
