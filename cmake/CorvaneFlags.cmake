# Compiler warnings and sanitizers shared by every target of the tree.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(CORVANE_WERROR)
  add_compile_options(-Werror)
endif()
if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
