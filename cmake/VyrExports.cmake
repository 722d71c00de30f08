# Modules throw and catch the exception classes of the executable, so every object of the
# common layer goes into the executable and its symbols into the dynamic symbol table.
function(vyr_export_common_classes target)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  add_dependencies(${target} vyr_common)
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" "$<TARGET_FILE:vyr_common>" "LINKER:--no-whole-archive")
endfunction()
