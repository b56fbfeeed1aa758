# Writes the presets of the other architectures, cmake/presets/architectures.json,
# from the table of processors, cmake/architectures.txt. Run after each change
# to the table, and commit both:
#   cmake -P cmake/GeneratePresets.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Architectures.cmake)
countdown_architecture_presets(presets)
file(WRITE ${CMAKE_CURRENT_LIST_DIR}/presets/architectures.json "${presets}")
