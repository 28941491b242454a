# The source tree is layered: base < platform, service < shell < app. Each layer is a
# folder under src/ and a static library. A layer's include root holds a link to its
# own folder only, and a library sees the include roots of the layers it links to, so
# `#include "shell/host.h"` from the service layer does not compile: the build itself
# refuses an upward (or sideways) include.
function(vardeko_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  set(root "${CMAKE_BINARY_DIR}/layers/${name}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${name}" SYMBOLIC)
  add_library(vardeko_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vardeko_${name} PUBLIC "${root}")
  target_link_libraries(vardeko_${name} PUBLIC ${ARG_LINKS})
  vardeko_warnings(vardeko_${name})
endfunction()
