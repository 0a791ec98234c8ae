# The layers enforced: one program per library that links every object of the
# library and nothing but the layers below it, so that a reach upwards (say
# from census/ into check/) leaves a symbol undefined and fails the build.
# Static libraries alone would hide it: the program links all of them.
file(WRITE ${CMAKE_BINARY_DIR}/layer_probe.cpp "int main() { return 0; }\n")
foreach(layer orvane_common orvane_cmdline orvane_install orvane_census orvane_check orvane_driver)
  add_executable(${layer}_layer ${CMAKE_BINARY_DIR}/layer_probe.cpp)
  target_link_libraries(${layer}_layer PRIVATE
    -Wl,--whole-archive ${layer} -Wl,--no-whole-archive ${layer})
endforeach()
