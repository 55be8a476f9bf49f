# Applies RKSO_SANITIZE to every target of the build.
if(RKSO_SANITIZE)
  add_compile_options(-fsanitize=${RKSO_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${RKSO_SANITIZE})
  if(RKSO_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Fuzz builds instrument every library for coverage; only the fuzz targets link the driver.
if(RKSO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
