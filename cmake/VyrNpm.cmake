# npm builds the page-side parts; a machine without it still builds the server, so whatever
# needs npm is left out of the build with one warning instead of failing the configure step.
macro(vyr_require_npm what)
  find_program(VYR_NPM npm)
  if(NOT VYR_NPM)
    message(WARNING "npm not found (scripts/install-deps.sh installs it): ${what} is left out")
    return()
  endif()
endmacro()
