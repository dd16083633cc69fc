# Warning flags for every target of the project, per compiler.
add_library(mdlink_warnings INTERFACE)
if(MSVC)
  target_compile_options(mdlink_warnings INTERFACE /W4 /permissive-)
  # The standard C functions the code uses (strcpy, snprintf, fopen...) are
  # not the "deprecated" ones there.
  target_compile_definitions(mdlink_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
  if(MDLINK_WERROR)
    target_compile_options(mdlink_warnings INTERFACE /WX)
  endif()
else()
  target_compile_options(mdlink_warnings INTERFACE -Wall -Wextra)
  if(MDLINK_WERROR)
    target_compile_options(mdlink_warnings INTERFACE -Werror)
  endif()
endif()
