# Builds the Debian package into OUT and checks its file list and dependencies:
# every program, the desktop entry and the icon; dcraw and the libraries
# (OpenEXR and libavif for the scene-linear and HDR outputs among them), and
# LibRaw's tools as a recommendation.
# Run by CTest: cmake -DCPACK=... -DDPKG_DEB=... -DCONFIG=... -DOUT=...
#   -DPROGRAMS=a,b -P check_package.cmake
if(NOT CPACK OR NOT EXISTS "${CPACK}" OR NOT DPKG_DEB OR NOT EXISTS "${DPKG_DEB}")
  message("PACKAGE CHECK SKIPPED: cpack or dpkg-deb is not installed")
  return()
endif()

file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${CONFIG}" -B "${OUT}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB debs "${OUT}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${OUT}, found: ${debs}\n${output}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -c ${debs}
  RESULT_VARIABLE result OUTPUT_VARIABLE contents ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed: ${error}")
endif()
string(REPLACE "," ";" programs "${PROGRAMS}")
set(missing "")
foreach(program IN LISTS programs)
  # Executable and in /usr/bin: "-rwxr-xr-x root/root ... ./usr/bin/orrindale"
  if(NOT contents MATCHES "\n-rwxr-xr-x [^\n]* \\./usr/bin/${program}\n")
    list(APPEND missing "/usr/bin/${program}")
  endif()
endforeach()
foreach(file IN ITEMS
    ./usr/share/applications/orrindale.desktop
    ./usr/share/icons/hicolor/scalable/apps/orrindale.svg
    ./usr/share/icons/hicolor/256x256/apps/orrindale.png)
  string(FIND "${contents}" " ${file}\n" at)
  if(at EQUAL -1)
    list(APPEND missing "${file}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "the package lacks: ${missing}\nIt holds:\n${contents}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -f ${debs} Depends
  RESULT_VARIABLE result OUTPUT_VARIABLE depends)
# Library package names as Debian 12 and 13 spell them (13 renamed some for
# its 64-bit time_t and ships a newer OpenCV).
foreach(package IN ITEMS dcraw libqt6widgets6 libqt6gui6 "libqt6core6(t64)?" libtiff6 libgif7
    liblcms2-2 "libopencv-core[0-9]+" "libopencv-imgproc[0-9]+" "libopenexr-[0-9-]+"
    "libavif[0-9]+")
  if(NOT depends MATCHES "(^|[ ,|])${package}([ ,(]|$|\n)")
    message(FATAL_ERROR "the package does not depend on ${package}: ${depends}")
  endif()
endforeach()
execute_process(COMMAND "${DPKG_DEB}" -f ${debs} Recommends OUTPUT_VARIABLE recommends)
if(NOT recommends MATCHES "libraw-bin")
  message(FATAL_ERROR "the package does not recommend libraw-bin: ${recommends}")
endif()
message(STATUS "package ${debs}: ${PROGRAMS}, desktop entry and icons; depends on ${depends}")
