# Warnings for our own targets: rkso_warnings(target)
function(rkso_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()
