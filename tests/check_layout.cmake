# Fails when a source breaks the layout's include rules:
#  - the core (CORE_SOURCES and their headers) includes no Qt;
#  - nothing under view/ or exchange/ includes app/;
#  - view/ takes from exchange/ only the formats' types (points and exports);
#  - exchange/ takes from view/ only the store, the document and its change
#    type, the command gate, the prompts interface and the underlay.
# Run as: cmake -DSOURCE_DIR=<root> -DCORE_SOURCES=<a;b;...> -P check_layout.cmake

set(problems "")

function(includes_of file out)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

set(core_files "")
foreach(source IN LISTS CORE_SOURCES)
  list(APPEND core_files "${source}")
  string(REGEX REPLACE "\\.cpp$" ".h" header "${source}")
  if(EXISTS "${SOURCE_DIR}/${header}")
    list(APPEND core_files "${header}")
  endif()
endforeach()
list(REMOVE_DUPLICATES core_files)
foreach(file IN LISTS core_files)
  includes_of("${file}" lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "<(Q|qt)[A-Za-z]*")
      list(APPEND problems "${file}: the core includes Qt: ${line}")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE layered RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/view/*" "${SOURCE_DIR}/exchange/*")
foreach(file IN LISTS layered)
  includes_of("${file}" lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "\"app/")
      list(APPEND problems "${file}: includes app/: ${line}")
    endif()
    if(file MATCHES "^view/" AND line MATCHES "\"exchange/" AND NOT line MATCHES "\"exchange/(coordinate_format|figure_export)\\.h\"")
      list(APPEND problems "${file}: the view reaches into exchange/: ${line}")
    endif()
    if(file MATCHES "^exchange/" AND line MATCHES "\"view/"
       AND NOT line MATCHES "\"view/(point_store|point_document|point_change|command_gate|user_prompts|underlay)\\.h\"")
      list(APPEND problems "${file}: exchange/ reaches into view/: ${line}")
    endif()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Include rules broken:\n  ${text}")
endif()
list(LENGTH core_files core_count)
list(LENGTH layered layered_count)
message(STATUS "Include rules hold for ${core_count} core files and ${layered_count} files under view/ and exchange/")
