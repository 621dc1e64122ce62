# kelvora_separate_symbols(<target>)
# For the Windows programs a store receives: after each link the symbols go to <file>.debug
# beside the program, the program is stripped and linked to that file by name (a debugger finds
# it there), so what is installed is a third of the size and a crash can still be read. Linux
# builds keep their symbols (the Debian package strips at packaging).
function(kelvora_separate_symbols target)
  if(NOT WIN32)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
