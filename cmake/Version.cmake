# The product's version, from shellwin/resources/version.h, where the version
# resource takes it too. Sets CHIMELET_VERSION ("1.0"). Refuses a header whose
# text does not match its numbers, and a string table whose About item does
# not name that version: the About item is a literal the user reads.
# Normal paths: the same file named twice would be two build rules for ninja.
get_filename_component(_version_h "${CMAKE_CURRENT_LIST_DIR}/../shellwin/resources/version.h" ABSOLUTE)
get_filename_component(_rc "${CMAKE_CURRENT_LIST_DIR}/../shellwin/resources/Chimelet.rc" ABSOLUTE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_version_h}" "${_rc}")

file(READ "${_version_h}" _text)
foreach(part IN ITEMS MAJOR MINOR)
  if(NOT _text MATCHES "#define[ \t]+CHIMELET_VERSION_${part}[ \t]+([0-9]+)")
    message(FATAL_ERROR "${_version_h}: no CHIMELET_VERSION_${part}")
  endif()
  set(_${part} "${CMAKE_MATCH_1}")
endforeach()
set(CHIMELET_VERSION "${_MAJOR}.${_MINOR}")
if(NOT _text MATCHES "#define[ \t]+CHIMELET_VERSION_TEXT[ \t]+\"([^\"]*)\"")
  message(FATAL_ERROR "${_version_h}: no CHIMELET_VERSION_TEXT")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CHIMELET_VERSION)
  message(FATAL_ERROR "${_version_h}: CHIMELET_VERSION_TEXT \"${CMAKE_MATCH_1}\" is not "
                      "MAJOR.MINOR (${CHIMELET_VERSION})")
endif()

file(STRINGS "${_rc}" _about REGEX "^[ \t]*IDS_ABOUT[ \t]")
if(NOT _about MATCHES "\"Chimelet ${CHIMELET_VERSION}\"")
  message(FATAL_ERROR "${_rc}: the About item (IDS_ABOUT) must read \"Chimelet ${CHIMELET_VERSION}\", "
                      "the version of ${_version_h}; it reads: ${_about}")
endif()
