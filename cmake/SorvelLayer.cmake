# The system is built in layers, each a static library in its own folder that links only the
# layers below it (see docs/ARCHITECTURE.md):
#   base -> platform -> aesxts -> crypto, tree -> archive -> app
# A layer's headers are included as "<folder>/Name.h". The project root is on no include path:
# each layer's include root is a folder of the build tree holding a single link, named after the
# folder, to the layer's sources. A target therefore reaches the headers of exactly the layers it
# links (its own included), and an include of a layer above fails to compile.

# sorvel_layer(<target> <folder> SOURCES <files>... [DEPENDS <targets>...])
function(sorvel_layer target folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;DEPENDS" ${ARGN})
  sorvel_layer_include_root(root ${folder})
  add_library(${target} STATIC ${LAYER_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_compile_options(${target} PRIVATE ${SORVEL_WARNINGS})
  target_link_libraries(${target} PUBLIC ${LAYER_DEPENDS})
  # The layers are also linked into the shared library libsorvel (lib/).
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU,Clang>:-fno-semantic-interposition>)
endfunction()

# Sets <out> to the include root of the layer in <folder>, making it on first use.
function(sorvel_layer_include_root out folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()
