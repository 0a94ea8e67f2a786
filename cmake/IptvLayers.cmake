# One static library per layer, each seeing only the headers of the layers it
# declares. Every layer gets an include root of its own in the build tree that
# holds links to its own folder and to the folders of the layers below it, so
# an include that runs upward (broadcast -> editing, table -> storage) does not
# compile, and a call that runs upward does not link.
#
# iptv_layer(NAME FOLDER folder [SOURCES s...] [DEPS layer...] [LIBS lib...])
#   NAME    the target (iptv_table, iptv_broadcast, ...)
#   FOLDER  its folder under src/, also the prefix of its includes ("table/...")
#   DEPS    the layers below it, by target name
#   LIBS    other libraries it links publicly (Threads::Threads, ...)

define_property(TARGET PROPERTY IPTV_LAYER_FOLDERS
  BRIEF_DOCS "src/ folders visible to a layer" FULL_DOCS "its own and those of every layer below it")

function(iptv_layer name)
  cmake_parse_arguments(L "" "FOLDER" "SOURCES;DEPS;LIBS" ${ARGN})
  set(folders ${L_FOLDER})
  foreach(dep ${L_DEPS})
    get_target_property(below ${dep} IPTV_LAYER_FOLDERS)
    list(APPEND folders ${below})
  endforeach()
  list(REMOVE_DUPLICATES folders)

  set(root ${PROJECT_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(f ${folders})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${f} ${root}/${f} SYMBOLIC)
  endforeach()

  add_library(${name} STATIC ${L_SOURCES})
  set_target_properties(${name} PROPERTIES IPTV_LAYER_FOLDERS "${folders}")
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${L_DEPS} ${L_LIBS} PRIVATE iptv_warnings)
endfunction()
