# Warnings are errors in every configuration, the MinGW one included.
function(vardeko_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor)
endfunction()
