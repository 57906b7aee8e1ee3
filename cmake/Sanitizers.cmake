# Sanitizer builds: -DPHENOMD_SANITIZE=address,undefined or =thread.  Every
# target of the build is instrumented, and any report fails the program.
set(PHENOMD_SANITIZE "" CACHE STRING
  "Sanitizers to build with (address,undefined or thread); empty for none")
if(PHENOMD_SANITIZE)
  message(STATUS "phenomd: building with -fsanitize=${PHENOMD_SANITIZE}")
  add_compile_options(-fsanitize=${PHENOMD_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${PHENOMD_SANITIZE})
endif()
