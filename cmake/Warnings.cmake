# Warnings for our own targets: rkso_warnings(target)
function(rkso_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  # A unity build includes each source into a batch file, so GCC takes every file for a
  # header and warns about classes that use file-local types.
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()
