# Warning set for our own targets; third-party headers come in as system includes.
option(VARNET_WERROR "Treat compiler warnings as errors" OFF)

function(varnet_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(VARNET_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wpedantic
      -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
      -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
    if(VARNET_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
