if(KORVID_SANITIZE)
  string(REPLACE ";" "," _korvid_sanitizers "${KORVID_SANITIZE}")
  add_compile_options(-fsanitize=${_korvid_sanitizers} -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_korvid_sanitizers})
endif()
