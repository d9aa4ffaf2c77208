# One warning set for every target of the project.
add_compile_options(
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wformat=2 -Wimplicit-fallthrough
  -Wmissing-declarations
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>)
if(TORVA_WERROR)
  add_compile_options(-Werror)
endif()
