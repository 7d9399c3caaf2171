# The house rules, checked when the build is configured: a rule broken fails the build.
#  - the logic library reaches no widgets, no sound and no database, not even through
#    what it links;
#  - only the plant library links libpq;
#  - nothing under station/ includes a header of plant/ or ui/;
#  - the packing job, its box and its rules (packing/) include nothing of station/;
#  - plant/, tools/, labels/, board/ and company/ reach into station/ only for the
#    station's files (station/files/) and the ports it is served through (station/ports/);
#  - only settings/ writes config.ini.

# Every library a target links, directly or through another.
function(zantrel_links_of target out)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(NOT TARGET ${current} OR current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(type ${current} TYPE)
    set(direct "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
    endif()
    get_target_property(iface ${current} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS direct iface)
      # $<LINK_ONLY:X> and other generator expressions around a target name.
      string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" lib "${lib}")
      if(lib AND NOT lib MATCHES "-NOTFOUND$")
        list(APPEND queue ${lib})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

zantrel_links_of(zantrel_logic logic_links)
foreach(forbidden Qt6::Widgets Qt6::Multimedia Qt6::Gui PkgConfig::PQ zantrel_plant zantrel_ui)
  if(forbidden IN_LIST logic_links)
    message(FATAL_ERROR "zantrel_logic links ${forbidden}: the station's logic must build without it")
  endif()
endforeach()
zantrel_links_of(zantrel_ui ui_links)
if(PkgConfig::PQ IN_LIST ui_links)
  message(FATAL_ERROR "zantrel_ui links libpq: only plant/ speaks to the database")
endif()

# Fails the build when one of these files has a line that matches the pattern.
function(zantrel_forbid pattern why)
  foreach(file ${ARGN})
    file(STRINGS ${file} found REGEX "${pattern}")
    if(found)
      message(FATAL_ERROR "${file}: ${found}: ${why}")
    endif()
  endforeach()
endfunction()
set(include_of "^[ \t]*#[ \t]*include[ \t]*[\"<]")

file(GLOB_RECURSE station_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/station/*.h ${CMAKE_CURRENT_SOURCE_DIR}/station/*.cpp)
zantrel_forbid("${include_of}(plant|ui)/" "the station sees the plant record and the windows only through its own ports" ${station_files})

file(GLOB packing_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packing/*.h ${CMAKE_CURRENT_SOURCE_DIR}/packing/*.cpp)
zantrel_forbid("${include_of}(station|plant|ui)/" "a box and its rules know nothing of the station that packs it" ${packing_files})

file(GLOB_RECURSE outside_files CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/plant/*.h ${CMAKE_CURRENT_SOURCE_DIR}/plant/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/labels/*.h ${CMAKE_CURRENT_SOURCE_DIR}/labels/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/board/*.h ${CMAKE_CURRENT_SOURCE_DIR}/board/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/company/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/company/*.cpp)
zantrel_forbid("${include_of}station/[A-Za-z0-9_]+\\.h"
  "outside the station only its files (station/files/) and its ports (station/ports/) are seen" ${outside_files})

file(GLOB_RECURSE program_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/station/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/plant/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/labels/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/board/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/packing/*.cpp)
zantrel_forbid("WriteIniValue" "it writes config.ini itself: the profile is written only through settings/" ${program_files})
