# MDLINK_SANITIZE=address;undefined or thread applies to every target.
if(MDLINK_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "MDLINK_SANITIZE is for GCC and Clang builds")
  endif()
  string(REPLACE ";" "," _mdlink_san "${MDLINK_SANITIZE}")
  add_compile_options(-fsanitize=${_mdlink_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_mdlink_san})
endif()
