option(VARNET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(VARNET_SANITIZE AND NOT MSVC)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
