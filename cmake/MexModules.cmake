# Helpers that compile the same sources against one host's mex.h.

# An object library of shared sources, compiled against the mex.h found in host_include.
function(add_host_objects target host_include)
  add_library(${target} OBJECT ${ARGN})
  target_include_directories(${target} PUBLIC ${host_include} ${PROJECT_SOURCE_DIR}/common
                             ${PROJECT_SOURCE_DIR}/sparsify)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A MEX extension for one host (STANDIN or OCTAVE) exporting mexFunction alone.
function(add_mex_module target host common_objects)
  add_library(${target} MODULE ${ARGN})
  target_link_libraries(${target} PRIVATE ${common_objects})
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                        VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE
                      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/mexfunction.map
                      -Wl,-Bsymbolic)
  if(host STREQUAL "STANDIN")
    target_link_libraries(${target} PRIVATE standin)
    set_target_properties(${target} PROPERTIES SUFFIX ".so")
  else()
    set_target_properties(${target} PROPERTIES SUFFIX ".mex")
  endif()
endfunction()
