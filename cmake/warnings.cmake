# Warnings for the project's own targets; third-party code keeps its own flags.
function(lupirane_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough -Werror)
  if(WIN32)
    # COM interfaces are released through Release(), never deleted through a base pointer,
    # so they have no virtual destructor by design.
    target_compile_options(${target} PRIVATE -Wno-non-virtual-dtor)
  endif()
endfunction()
