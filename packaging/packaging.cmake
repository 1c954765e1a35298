# Installation (programs, desktop entry, icon) and the Debian package made by
# CPack: `cmake --install build` and `cd build && cpack -G DEB`.
include(GNUInstallDirs)

set(ORRINDALE_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${ORRINDALE_PACKAGING_DIR}/orrindale.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ORRINDALE_PACKAGING_DIR}/orrindale.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ORRINDALE_PACKAGING_DIR}/orrindale.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

# The programs a user runs, whichever of them this tree defines. Deferred to the
# end of the top-level CMakeLists.txt, so a program target added anywhere, in
# any order, is installed, packaged and checked in the package.
function(orrindale_install_programs)
  set(programs "")
  foreach(program IN ITEMS orrindale orrindale-batch)
    if(TARGET ${program})
      list(APPEND programs ${program})
    endif()
  endforeach()
  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  find_program(ORRINDALE_DPKG_DEB dpkg-deb)
  string(REPLACE ";" "," program_list "${programs}")
  add_test(NAME package_file_list
    COMMAND ${CMAKE_COMMAND}
      -DCPACK=${CMAKE_CPACK_COMMAND}
      -DDPKG_DEB=${ORRINDALE_DPKG_DEB}
      -DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
      -DOUT=${CMAKE_BINARY_DIR}/package-test
      -DPROGRAMS=${program_list}
      -P ${CMAKE_SOURCE_DIR}/tests/packaging/check_package.cmake)
  set_tests_properties(package_file_list PROPERTIES
    TIMEOUT 300
    SKIP_REGULAR_EXPRESSION "PACKAGE CHECK SKIPPED")
endfunction()
cmake_language(DEFER CALL orrindale_install_programs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orrindale)
set(CPACK_PACKAGE_VENDOR "Orrindale")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "blends bracketed RAW exposures into one low-noise 16-bit TIFF")
set(CPACK_PACKAGE_DESCRIPTION
  "Orrindale develops several RAW frames of one static scene, shot at different\n\
exposures, with dcraw; measures their exposure ratios from the pixels; and\n\
blends them into one 16-bit TIFF with very low noise: shadows from the long\n\
exposures, highlights from the short ones. The blend may also be written as a\n\
scene-linear float TIFF or OpenEXR file, or as HDR AVIF (BT.2100 PQ).")
set(CPACK_PACKAGE_CONTACT "Orrindale developers <orrindale@localhost>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The linked libraries (Qt 6, libtiff, giflib, OpenCV, OpenEXR, libavif, ...) with their versions come
# from dpkg-shlibdeps. Named here: the decoder the programs run, the fonts the
# windows ask for (Liberation Sans, and Liberation's Arial and Courier New
# metrics), and LittleCMS, which the linker leaves out of a program that does
# not call it yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dcraw, fonts-liberation2 | fonts-liberation, liblcms2-2")
# LibRaw's dcraw_emu (and raw-identify) for the cameras dcraw cannot read.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libraw-bin")
include(CPack)
